// The read before a changed-only write, and the line it gives each block.
#include "operations/ChangedBlocks.h"

#include <string>

#include "core/OperatorTexts.h"
#include "operations/FlashComparison.h"
#include "operations/FlashRangeReader.h"
#include "protocol/CommandFormats.h"

namespace norvale {

std::vector<ImageSlice> findChangedSlices(CommandContext& command,
                                          const std::vector<ImageSlice>& plan,
                                          std::span<const std::uint8_t> image) {
    const std::optional<PlanExtent> extent = planExtent(plan, image.size());
    if (!extent) {
        command.fail(text::kBadAddressRange);
        return {};
    }
    command.log().append(text::kComparingBlocks);
    FlashComparison sink(plan, image, FlashComparison::OnDifference::noteSlice);
    if (!endRead(command, readReplies(command, extent->address, extent->count, sink))) return {};

    std::vector<ImageSlice> changed;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const bool differs = sink.differs(i);
        std::string line(differs ? text::kBlockDiffers.view() : text::kBlockAlreadyEqual.view());
        line += formatHexAddress(plan[i].address);
        line += text::kLineEnd;
        command.log().append(line);
        if (differs) changed.push_back(plan[i]);
    }
    return changed;
}

}  // namespace norvale
