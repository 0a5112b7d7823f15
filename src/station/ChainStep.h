// One command of a phone's chain, as a value: what it does and the files it names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "operations/WritePlan.h"

namespace norvale {

// A flash range as the operator names it: the texts go into the address fields as typed (so a
// read's default file name is the one the dialog builds from them), the values are theirs.
struct FlashRange {
    std::string startText;
    std::string endText;
    std::uint32_t start = 0;
    std::uint32_t end = 0;

    friend bool operator==(const FlashRange&, const FlashRange&) = default;
};

struct ListStep {
    bool json = false;  // --json: one JSON document instead of the lines
    friend bool operator==(const ListStep&, const ListStep&) = default;
};
struct InfoStep {
    bool json = false;
    friend bool operator==(const InfoStep&, const InfoStep&) = default;
};
struct StartStep {
    friend bool operator==(const StartStep&, const StartStep&) = default;
};
struct BlankStep {
    friend bool operator==(const BlankStep&, const BlankStep&) = default;
};
struct ReadStep {
    FlashRange range;
    std::optional<std::string> output;  // -o FILE; else the dialog's name in the working folder
    friend bool operator==(const ReadStep&, const ReadStep&) = default;
};
enum class Region { boot, pds, panic, blocks };
// The image a recipe meant: a write whose image has another size or digest is refused before any
// phone is touched, so a file replaced on a shared folder never reaches a phone.
struct ImagePin {
    std::uint64_t size = 0;
    std::string sha256;  // 64 lower-case hex digits
    friend bool operator==(const ImagePin&, const ImagePin&) = default;
};
struct WriteStep {
    Region region = Region::pds;
    FlashRange range;  // the region's own, or the blocks' START-END
    std::vector<ImageSlice> plan;
    std::string image;
    bool verify = true;
    bool changedOnly = false;  // only the blocks whose flash differs from the image are written
    std::optional<std::string> backup;  // the range about to be overwritten goes here first
    std::optional<ImagePin> pin;        // a recipe's: the image it was made with
    friend bool operator==(const WriteStep&, const WriteStep&) = default;
};
struct BackupStep {
    std::optional<std::string> folder;  // else a new one named after the date and time
    friend bool operator==(const BackupStep&, const BackupStep&) = default;
};
// A backup folder put back: each region written where it differs, each write verified.
struct RestoreStep {
    std::string folder;
    bool backupFirst = true;  // --no-backup: the phone's regions are not saved first
    // Where they are saved: a new folder beside `folder`, chosen once the files are looked at.
    std::optional<std::string> backupFolder;
    // Whether PDS is written too; a station clears it unless its plan's clonePds asks for it.
    bool pds = true;
    friend bool operator==(const RestoreStep&, const RestoreStep&) = default;
};
using ChainStep = std::variant<ListStep, InfoStep, ReadStep, WriteStep, StartStep, BlankStep,
                               BackupStep, RestoreStep>;

// The range of a named region (boot, pds or panic), its texts as the dialog's fields hold them.
FlashRange regionRange(Region region);

// A write of `image` over a named region (boot, pds or panic), verified, every block written.
WriteStep regionWrite(Region region, std::string image);

// A write of `image` over the whole blocks from `range.start` to `range.end`; none when the range
// covers no block or no image could feed the walk (the dialog refuses those too).
std::optional<WriteStep> blockWrite(FlashRange range, std::string image);

// The command's name: "read", "write"...
std::string stepName(const ChainStep& step);

// The step as the command line types it, each argument apart: {"write", "pds", "new.bin",
// "--no-verify"}. Parsed back, it gives the same step.
std::vector<std::string> stepArguments(const ChainStep& step);

}  // namespace norvale
