// The command line of norvale-cli as a request: options, then commands in order.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/StationOptions.h"
#include "core/Message.h"
#include "core/MessageCatalogue.h"
#include "operations/WritePlan.h"

namespace norvale {

// A flash range as the command line names it: the texts go into the address fields as typed (so a
// read's default file name is the one the dialog builds from them), the values are theirs.
struct FlashRange {
    std::string startText;
    std::string endText;
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};

struct ListStep {
    bool json = false;  // --json: one JSON document instead of the lines
};
struct InfoStep {
    bool json = false;
};
struct StartStep {};
struct BlankStep {};
struct ReadStep {
    FlashRange range;
    std::optional<std::string> output;  // -o FILE; else the dialog's name in the working folder
};
enum class Region { boot, pds, panic, blocks };
struct WriteStep {
    Region region = Region::pds;
    FlashRange range;  // the region's own, or the blocks' START-END
    std::vector<ImageSlice> plan;
    std::string image;
    bool verify = true;
    bool changedOnly = false;  // only the blocks whose flash differs from the image are written
    std::optional<std::string> backup;  // the range about to be overwritten goes here first
};
struct BackupStep {
    std::optional<std::string> folder;  // else a new one named after the date and time
};
// A backup folder put back: each region written where it differs, each write verified.
struct RestoreStep {
    std::string folder;
    bool backupFirst = true;  // --no-backup: the phone's regions are not saved first
    // Where they are saved: a new folder beside `folder`, chosen once the files are looked at.
    std::optional<std::string> backupFolder;
};
using CliStep = std::variant<ListStep, InfoStep, ReadStep, WriteStep, StartStep, BlankStep,
                             BackupStep, RestoreStep>;

struct CliOptions {
    std::optional<std::string> workingFolder;  // --dir
    std::optional<std::string> device;         // --device ID
    std::optional<unsigned> waitSeconds;       // --wait SECONDS
    bool simulated = false;                    // --sim
    bool quiet = false;
    bool dryRun = false;  // --dry-run: the files checked and the plan printed; no phone
    std::optional<Language> language;  // --lang
    StationOptions station;
};

struct CommandLine {
    enum class Kind { run, help, version, usageError };
    Kind kind = Kind::run;
    CliOptions options;  // for a usage error: those read before it
    std::vector<CliStep> steps;
    std::vector<std::string> stepTexts;  // each step as typed: "read pds -o old.bin"
    std::string helpTopic;               // help: "" for the whole, else a command's name
    MessageId reason{};                  // usage error: which
    std::string detail;                  // usage error: the argument it is about
};

// Reads `args` (the arguments after the program's name). Nothing is opened or sent: a file named
// is only taken as a name here.
CommandLine parseCommandLine(std::span<const std::string> args);

// The whole text must be 1 to 8 hex digits of either case: "1001FFFF", "3000". Unlike the
// dialog's fields, which read what they can, a command line with anything else in an address is
// refused before the phone is touched.
std::optional<std::uint32_t> parseStrictHex(std::string_view text);

// The commands' names, for the help and for telling a folder argument from the next command.
bool isCommandName(std::string_view word);

// Whether a command of the run prints a JSON document: its output stream holds that alone.
bool printsJson(const CommandLine& line);

// The regions a range or a write can name instead of START-END: boot, pds, panic.
std::vector<std::string_view> regionNames();

}  // namespace norvale
