// The read before a changed-only write, and the line it gives each block.
#include "operations/ChangedBlocks.h"

#include "core/Message.h"
#include "operations/FlashComparison.h"
#include "operations/FlashRangeReader.h"

namespace norvale {

std::vector<ImageSlice> findChangedSlices(CommandContext& command,
                                          const std::vector<ImageSlice>& plan,
                                          std::span<const std::uint8_t> image) {
    const std::optional<PlanExtent> extent = planExtent(plan, image.size());
    if (!extent) {
        command.fail(MessageId::badAddressRange);
        return {};
    }
    command.log().append(MessageId::comparingBlocks);
    FlashComparison sink(plan, *extent, image, FlashComparison::OnDifference::noteSlice);
    if (!endRead(command, readReplies(command, extent->address, extent->count, sink))) return {};

    std::vector<ImageSlice> changed;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const bool differs = sink.differs(i);
        command.log().append(
            Message(differs ? MessageId::blockDiffers : MessageId::blockAlreadyEqual,
                    MessageDetail::flashAddress(plan[i].address)));
        if (differs) changed.push_back(plan[i]);
    }
    return changed;
}

}  // namespace norvale
