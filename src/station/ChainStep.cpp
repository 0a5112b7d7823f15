// The steps' builders, and each step back in the command line's words.
#include "station/ChainStep.h"

#include <type_traits>

namespace norvale {
namespace {

// A backup's folder is taken only when the next word is neither an option nor a command: a folder
// named so goes as a relative name that means the same folder.
bool takenAsFolder(const std::string& name) {
    static constexpr const char* kCommands[] = {"list",  "info",   "read",   "write",
                                                "start", "blank",  "backup", "restore",
                                                "help",  "recipe", "report"};
    if (name.size() > 1 && name[0] == '-') return false;
    for (const char* command : kCommands) {
        if (name.size() != std::char_traits<char>::length(command)) continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size(); ++i) {
            const char c =
                name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] + 32) : name[i];
            same = same && c == command[i];
        }
        if (same) return false;
    }
    return true;
}

std::string rangeWord(const FlashRange& range) { return range.startText + "-" + range.endText; }

std::string regionWord(Region region, const FlashRange& range) {
    switch (region) {
        case Region::boot: return "boot";
        case Region::pds: return "pds";
        case Region::panic: return "panic";
        case Region::blocks: break;
    }
    return rangeWord(range);
}

// A read names a region by its word when its range is the region's, as typed.
std::string readWord(const FlashRange& range) {
    for (const Region region : {Region::boot, Region::pds, Region::panic}) {
        if (regionRange(region) == range) return regionWord(region, range);
    }
    return rangeWord(range);
}

}  // namespace

FlashRange regionRange(Region region) {
    switch (region) {
        case Region::boot: return {"10000000", "1000FFFF", 0x10000000u, 0x1000FFFFu};
        case Region::pds: return {"10010000", "1001FFFF", 0x10010000u, 0x1001FFFFu};
        case Region::panic: return {"10020000", "1003FFFF", 0x10020000u, 0x1003FFFFu};
        case Region::blocks: break;
    }
    return {};
}

WriteStep regionWrite(Region region, std::string image) {
    WriteStep step;
    step.region = region;
    step.range = regionRange(region);
    step.plan = region == Region::boot  ? bootSlices()
                : region == Region::pds ? pdsSlices()
                                        : panicSlices();
    step.image = std::move(image);
    return step;
}

std::optional<WriteStep> blockWrite(FlashRange range, std::string image) {
    const auto plan = blockRangeSlices(range.start, range.end);
    if (!plan || plan->empty()) return std::nullopt;
    WriteStep step;
    step.region = Region::blocks;
    step.range = std::move(range);
    step.plan = *plan;
    step.image = std::move(image);
    return step;
}

std::string stepName(const ChainStep& step) {
    return std::visit(
        [](const auto& command) -> std::string {
            using Step = std::decay_t<decltype(command)>;
            if constexpr (std::is_same_v<Step, ListStep>) return "list";
            if constexpr (std::is_same_v<Step, InfoStep>) return "info";
            if constexpr (std::is_same_v<Step, ReadStep>) return "read";
            if constexpr (std::is_same_v<Step, WriteStep>) return "write";
            if constexpr (std::is_same_v<Step, StartStep>) return "start";
            if constexpr (std::is_same_v<Step, BlankStep>) return "blank";
            if constexpr (std::is_same_v<Step, BackupStep>) return "backup";
            if constexpr (std::is_same_v<Step, RestoreStep>) return "restore";
        },
        step);
}

std::vector<std::string> stepArguments(const ChainStep& step) {
    std::vector<std::string> words{stepName(step)};
    if (const auto* list = std::get_if<ListStep>(&step)) {
        if (list->json) words.push_back("--json");
    } else if (const auto* info = std::get_if<InfoStep>(&step)) {
        if (info->json) words.push_back("--json");
    } else if (const auto* read = std::get_if<ReadStep>(&step)) {
        words.push_back(readWord(read->range));
        if (read->output) words.insert(words.end(), {"-o", *read->output});
    } else if (const auto* write = std::get_if<WriteStep>(&step)) {
        words.push_back(regionWord(write->region, write->range));
        words.push_back(write->image);
        if (!write->verify) words.push_back("--no-verify");
        if (write->changedOnly) words.push_back("--changed-only");
        if (write->backup) words.insert(words.end(), {"--backup", *write->backup});
    } else if (const auto* backup = std::get_if<BackupStep>(&step)) {
        if (backup->folder) {
            words.push_back(takenAsFolder(*backup->folder) ? *backup->folder
                                                           : "./" + *backup->folder);
        }
    } else if (const auto* restore = std::get_if<RestoreStep>(&step)) {
        words.push_back(restore->folder);
        if (!restore->backupFirst) words.push_back("--no-backup");
    }
    return words;
}

}  // namespace norvale
