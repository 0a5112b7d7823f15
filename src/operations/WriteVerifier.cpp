// Verification of a write: the flash read back through the loader and compared in memory.
#include "operations/WriteVerifier.h"

#include <algorithm>
#include <vector>

#include "operations/FlashRangeReader.h"
#include "protocol/CommandFormats.h"

namespace norvale {
namespace {

// The replies against the image bytes that should now be in flash from `address` on, each
// compared as it comes into the one buffer, and kept no longer.
class ComparingSink final : public RangeSink {
public:
    ComparingSink(std::uint32_t address, std::span<const std::uint8_t> expected)
        : address_(address), expected_(expected), reply_(kRangeReplySize) {}

    std::span<std::uint8_t> buffer() override { return reply_; }
    bool take(CommandContext& command, std::size_t length, std::uint64_t offset) override {
        // Bytes past the range are the reader's to refuse; only the overlap is compared.
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(length, expected_.size() - offset));
        const auto wanted = expected_.subspan(static_cast<std::size_t>(offset), n);
        const auto differs = std::mismatch(wanted.begin(), wanted.end(), reply_.begin()).first;
        if (differs != wanted.end()) {
            const auto at = offset + static_cast<std::uint64_t>(differs - wanted.begin());
            command.fail(MessageId::verifyMismatch,
                         MessageDetail::flashAddress(address_ + static_cast<std::uint32_t>(at)));
            return false;
        }
        compared_ += length;
        return true;
    }
    std::uint64_t done() const override { return compared_; }
    bool finish(CommandContext& /*command*/) override { return true; }

private:
    std::uint32_t address_;
    std::span<const std::uint8_t> expected_;
    std::vector<std::uint8_t> reply_;
    std::uint64_t compared_ = 0;
};

bool laidEndToEnd(const std::vector<ImageSlice>& plan) {
    for (std::size_t i = 1; i < plan.size(); ++i) {
        const ImageSlice& before = plan[i - 1];
        if (plan[i].fromOffset != before.toOffset ||
            plan[i].address - before.address != before.toOffset - before.fromOffset) {
            return false;
        }
    }
    return !plan.empty() && plan.front().fromOffset == 0;
}

}  // namespace

void verifyWrite(CommandContext& command, const std::vector<ImageSlice>& plan,
                 std::span<const std::uint8_t> image) {
    const std::uint64_t written = bytesToSend(plan, image.size());
    if (!laidEndToEnd(plan) || written == 0 || written > 0xFFFFFFFFu) {
        command.fail(MessageId::badAddressRange);
        return;
    }
    command.log().append(MessageId::verifyingData);
    const auto count = static_cast<std::uint32_t>(written);
    ComparingSink sink(plan.front().address, image.first(count));
    finishRead(command, readReplies(command, plan.front().address, count, sink));
}

}  // namespace norvale
