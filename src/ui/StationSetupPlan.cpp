// The station plan of a setup.
#include "ui/StationSetupPlan.h"

namespace norvale {
namespace {

std::optional<std::uint32_t> hexAddress(const std::string& text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value << 4 | digit;
    }
    return value;
}

std::optional<ChainStep> chainStep(const SetupStep& step) {
    switch (step.kind) {
        case SetupStep::Kind::backup: return BackupStep{};
        case SetupStep::Kind::start: return StartStep{};
        case SetupStep::Kind::blank: return BlankStep{};
        case SetupStep::Kind::restore: {
            RestoreStep restore;
            restore.folder = step.path;
            return restore;
        }
        case SetupStep::Kind::writeBoot: return regionWrite(Region::boot, step.path);
        case SetupStep::Kind::writePds: return regionWrite(Region::pds, step.path);
        case SetupStep::Kind::writePanic: return regionWrite(Region::panic, step.path);
        case SetupStep::Kind::writeBlocks: {
            const auto range = typedRange(step.startText, step.endText);
            if (!range) return std::nullopt;
            auto write = blockWrite(*range, step.path);
            if (!write) return std::nullopt;
            return *write;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<FlashRange> typedRange(const std::string& startText, const std::string& endText) {
    const auto start = hexAddress(startText);
    const auto end = hexAddress(endText);
    if (!start || !end || *start > *end) return std::nullopt;
    return FlashRange{startText, endText, *start, *end};
}

std::optional<SetupStep> setupStep(const ChainStep& step) {
    if (const auto* backup = std::get_if<BackupStep>(&step)) {
        if (!backup->folder) return SetupStep{SetupStep::Kind::backup};
    } else if (std::holds_alternative<StartStep>(step)) {
        return SetupStep{SetupStep::Kind::start};
    } else if (std::holds_alternative<BlankStep>(step)) {
        return SetupStep{SetupStep::Kind::blank};
    } else if (const auto* restore = std::get_if<RestoreStep>(&step)) {
        if (restore->backupFirst && !restore->backupFolder) {
            return SetupStep{SetupStep::Kind::restore, restore->folder};
        }
    } else if (const auto* write = std::get_if<WriteStep>(&step); write && !write->backup) {
        switch (write->region) {
            case Region::boot: return SetupStep{SetupStep::Kind::writeBoot, write->image};
            case Region::pds: return SetupStep{SetupStep::Kind::writePds, write->image};
            case Region::panic: return SetupStep{SetupStep::Kind::writePanic, write->image};
            case Region::blocks:
                return SetupStep{SetupStep::Kind::writeBlocks, write->image, write->range.startText,
                                 write->range.endText};
        }
    }
    return std::nullopt;
}

std::optional<StationPlan> stationPlan(const StationSetup& setup, bool simulated) {
    StationPlan plan;
    for (const SetupStep& step : setup.steps) {
        auto made = chainStep(step);
        if (!made) return std::nullopt;
        plan.steps.push_back(std::move(*made));
    }
    setWriteChecks(plan, setup.verify, setup.changedOnly);
    typeStepTexts(plan);
    if (!setup.folder.empty()) plan.workingFolder = setup.folder;
    if (!setup.journal.empty()) plan.journal = setup.journal;
    if (!setup.allPlaces) {
        if (setup.tickedPlaces.empty()) return std::nullopt;
        plan.ports = setup.tickedPlaces;
    }
    plan.simulated = simulated;
    plan.clonePds = setup.clonePds;
    return plan;
}

}  // namespace norvale
