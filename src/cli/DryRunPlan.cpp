// The dry run's lines, command by command, with the transfers counted as they are described.
#include "cli/DryRunPlan.h"

#include <algorithm>
#include <cstdio>
#include <variant>

#include "operations/DumpFileName.h"
#include "operations/FlashComparison.h"
#include "protocol/CommandFormats.h"
#include "station/BackupSet.h"
#include "station/PhoneFolder.h"

namespace norvale {
namespace {

std::string rangeText(std::uint32_t start, std::uint64_t count) {
    return formatHexAddress(start) + "-" +
           formatHexAddress(static_cast<std::uint32_t>(start + count - 1)) + " (" +
           std::to_string(count) + " bytes)";
}

std::string regionName(const WriteStep& step) {
    switch (step.region) {
        case Region::boot: return "boot";
        case Region::pds: return "pds";
        case Region::panic: return "panic";
        case Region::blocks: break;
    }
    return step.range.startText + "-" + step.range.endText;
}

class PlanWriter {
public:
    explicit PlanWriter(const PreparedRun& prepared)
        : prepared_(prepared), estimate_(prepared.loaders) {}

    std::vector<std::string> describe(const CommandLine& line) {
        lines_.emplace_back("Dry run: nothing is sent to a phone and no file is made.");
        const bool phone = std::any_of(line.steps.begin(), line.steps.end(), [](const auto& step) {
            return !std::holds_alternative<ListStep>(step);
        });
        if (phone) estimate_.identify();  // the phone's arrival
        for (std::size_t i = 0; i < line.steps.size(); ++i) {
            std::visit([&](const auto& step) { describe(step, i == 0); }, line.steps[i]);
        }
        char total[96];
        std::snprintf(total, sizeof total,
                      "Transfers on a full-speed USB link, one at a time: about %.1f s%s",
                      estimate_.milliseconds() / 1000.0,
                      candidates_ ? ", every candidate block written" : "");
        lines_.emplace_back(total);
        return std::move(lines_);
    }

private:
    void describe(const ListStep& /*step*/, bool /*first*/) {
        lines_.emplace_back("list");
        lines_.emplace_back("  ask each phone attached for its boot version and mode");
        estimate_.identify();
    }
    void describe(const InfoStep& /*step*/, bool first) {
        lines_.emplace_back("info");
        lines_.emplace_back("  ask the phone for its boot version and mode");
        if (!first) estimate_.identify();
    }
    void describe(const StartStep& /*step*/, bool /*first*/) {
        lines_.emplace_back("start");
        lines_.emplace_back("  start the phone: it leaves flash mode");
        estimate_.bootstrap();
        estimate_.commandBytes(2);
    }
    void describe(const BlankStep& /*step*/, bool /*first*/) {
        lines_.emplace_back("blank");
        lines_.emplace_back("  switch the phone to BLANK mode");
        estimate_.bootstrap();
        estimate_.commandBytes(1);
    }
    void describe(const ReadStep& step, bool /*first*/) {
        const FlashRange& range = step.range;
        lines_.push_back("read " + range.startText + "-" + range.endText);
        const std::string name =
            step.output ? *step.output
                        : dumpFileName(range.startText, range.endText, range.start, range.end);
        read(range.start, std::uint64_t{range.end} - range.start + 1, "into " + name);
    }
    void describe(const WriteStep& step, bool /*first*/) {
        std::string head = "write " + regionName(step) + " " + step.image;
        if (step.changedOnly) head += " --changed-only";
        if (!step.verify) head += " --no-verify";
        lines_.push_back(head);
        if (step.backup) {
            const auto [first, last] = flashCoveredBy(step.plan);
            read(first, std::uint64_t{last} - first + 1, "into " + *step.backup);
        }
        write(step.plan, nextImageSize(), step.verify, step.changedOnly);
    }
    void describe(const BackupStep& step, bool /*first*/) {
        lines_.push_back("backup " + step.folder.value_or(""));
        backup(step.folder.value_or(""));
    }
    void describe(const RestoreStep& step, bool /*first*/) {
        lines_.push_back("restore " + step.folder);
        if (step.backupFolder) backup(*step.backupFolder);
        for (const BackupRegion& region : kBackupRegions) {
            lines_.push_back("  restore " + pathInFolder(step.folder, region.fileName));
            write(region.slices(), nextImageSize(), true, true);
        }
    }

    std::uint64_t nextImageSize() {
        return next_ < prepared_.imageSizes.size() ? prepared_.imageSizes[next_++] : 0;
    }

    void read(std::uint32_t start, std::uint64_t count, const std::string& purpose) {
        lines_.push_back("  read " + rangeText(start, count) + " " + purpose);
        estimate_.bootstrap();
        estimate_.read(static_cast<std::uint32_t>(count));
    }

    void backup(const std::string& folder) {
        for (const BackupRegion& region : kBackupRegions) {
            read(region.start, region.size(), "into " + pathInFolder(folder, region.fileName));
        }
        lines_.push_back("  create " + pathInFolder(folder, kChecksumsFileName));
    }

    void write(const std::vector<ImageSlice>& plan, std::uint64_t imageSize, bool verify,
               bool changedOnly) {
        const std::optional<PlanExtent> extent = planExtent(plan, imageSize);
        if (!extent) return;  // no image a real run would take
        if (changedOnly) {
            read(extent->address, extent->count, "to compare");
            candidates_ = true;
        }
        for (const ImageSlice& slice : plan) {
            const std::uint64_t end = std::min<std::uint64_t>(slice.toOffset, imageSize);
            lines_.push_back(std::string(changedOnly ? "  candidate" : "  write") + " block " +
                             formatHexAddress(slice.address) + " (" +
                             std::to_string(slice.toOffset - slice.fromOffset) +
                             " bytes) from image bytes " + formatHexAddress(slice.fromOffset) +
                             "-" + formatHexAddress(static_cast<std::uint32_t>(end - 1)) +
                             (changedOnly ? ", written if it differs" : ""));
        }
        estimate_.bootstrap();
        estimate_.write(plan, imageSize);
        if (verify) read(extent->address, extent->count, "to verify");
    }

    const PreparedRun& prepared_;
    TransferEstimate estimate_;
    std::vector<std::string> lines_;
    std::size_t next_ = 0;
    bool candidates_ = false;
};

}  // namespace

std::vector<std::string> dryRunPlan(const CommandLine& line, const PreparedRun& prepared) {
    return PlanWriter(prepared).describe(line);
}

}  // namespace norvale
