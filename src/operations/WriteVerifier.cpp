// Verification of a write: the flash read back through the loader and compared in memory.
#include "operations/WriteVerifier.h"

#include "operations/FlashComparison.h"
#include "operations/FlashRangeReader.h"

namespace norvale {

void verifyWrite(CommandContext& command, const std::vector<ImageSlice>& plan,
                 std::span<const std::uint8_t> image) {
    const std::optional<PlanExtent> extent = planExtent(plan, image.size());
    if (!extent) {
        command.fail(MessageId::badAddressRange);
        return;
    }
    command.log().append(MessageId::verifyingData);
    FlashComparison sink(plan, *extent, image, FlashComparison::OnDifference::failCommand);
    finishRead(command, readReplies(command, extent->address, extent->count, sink));
}

}  // namespace norvale
