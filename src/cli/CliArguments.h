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
#include "station/ChainStep.h"
#include "station/StationPlan.h"

namespace norvale {

// The chain's steps are the station's; the command line builds them from its words.
using CliStep = ChainStep;

struct CliOptions {
    std::optional<std::string> workingFolder;  // --dir
    std::optional<std::string> device;         // --device ID
    std::optional<unsigned> waitSeconds;       // --wait SECONDS
    bool simulated = false;                    // --sim
    bool quiet = false;
    bool dryRun = false;  // --dry-run: the files checked and the plan printed; no phone
    std::optional<Language> language;   // --lang
    std::optional<std::string> recipe;  // --recipe FILE: the commands are the recipe's
    StationOptions station;
};

struct CommandLine {
    // recipe and report are tools of their own: their words are in `toolArgs`, unread here.
    enum class Kind { run, help, version, usageError, recipe, report };
    Kind kind = Kind::run;
    CliOptions options;  // for a usage error: those read before it
    std::vector<CliStep> steps;
    std::vector<std::string> stepTexts;  // each step as typed: "read pds -o old.bin"
    std::string helpTopic;               // help: "" for the whole, else a command's name
    MessageId reason{};                  // usage error: which
    std::string detail;                  // usage error: the argument it is about
    std::vector<std::string> toolArgs;   // recipe, report: the words after the command's name
    std::optional<RecipeStamp> recipe;   // the recipe the steps were read from, once they are
};

// Reads `args` (the arguments after the program's name). Nothing is opened or sent: a file named
// is only taken as a name here. With --recipe there are no commands: the line is a run whose
// steps the recipe gives (readRecipeInto, RecipeCommands.h), after which stationRefusal applies.
CommandLine parseCommandLine(std::span<const std::string> args);

// What a --station line asks the station engine to do.
StationPlan stationPlan(const CommandLine& line);

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
