// The comparison of a read's replies with a plan's image bytes: the first difference, or every
// slice that holds one.
#include "operations/FlashComparison.h"

#include <algorithm>

#include "core/Message.h"

namespace norvale {

std::optional<PlanExtent> planExtent(const std::vector<ImageSlice>& plan, std::uint64_t imageSize) {
    if (plan.empty()) return std::nullopt;
    for (std::size_t i = 1; i < plan.size(); ++i) {
        const ImageSlice& before = plan[i - 1];
        if (plan[i].fromOffset != before.toOffset ||
            plan[i].address - before.address != before.toOffset - before.fromOffset) {
            return std::nullopt;
        }
    }
    const std::uint64_t count = bytesToSend(plan, imageSize);
    if (count == 0 || count > 0xFFFFFFFFu) return std::nullopt;
    return PlanExtent{plan.front().address, plan.front().fromOffset,
                      static_cast<std::uint32_t>(count)};
}

FlashComparison::FlashComparison(const std::vector<ImageSlice>& plan, const PlanExtent& extent,
                                 std::span<const std::uint8_t> image, OnDifference onDifference)
    : plan_(plan),
      extent_(extent),
      expected_(image.subspan(extent_.fromOffset, extent_.count)),
      onDifference_(onDifference),
      reply_(kRangeReplySize),
      differing_(plan.size(), false) {}

bool FlashComparison::take(CommandContext& command, std::size_t length, std::uint64_t offset) {
    // Bytes past the range are the reader's to refuse; only the overlap is compared.
    const auto n =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, expected_.size() - offset));
    const auto wanted = expected_.subspan(static_cast<std::size_t>(offset), n);
    if (onDifference_ == OnDifference::failCommand) {
        const auto differs = std::mismatch(wanted.begin(), wanted.end(), reply_.begin()).first;
        if (differs != wanted.end()) {
            const auto at = offset + static_cast<std::uint64_t>(differs - wanted.begin());
            command.fail(
                MessageId::verifyMismatch,
                MessageDetail::flashAddress(extent_.address + static_cast<std::uint32_t>(at)));
            return false;
        }
    } else {
        // Each slice's part of this reply, compared on its own. A reply of 4 KB meets one or
        // two slices of 32 KB or more: the slices it ends before, and those it begins after,
        // are not looked at.
        const auto endOf = [&](std::size_t i) {
            return std::min<std::uint64_t>(plan_[i].toOffset - extent_.fromOffset,
                                           expected_.size());
        };
        while (firstOpenSlice_ < plan_.size() && endOf(firstOpenSlice_) <= offset) {
            ++firstOpenSlice_;
        }
        for (std::size_t i = firstOpenSlice_; i < plan_.size(); ++i) {
            const std::uint64_t from = plan_[i].fromOffset - extent_.fromOffset;
            if (from >= offset + n) break;
            const std::uint64_t first = std::max(from, offset);
            const std::uint64_t end = std::min(endOf(i), offset + n);
            if (differing_[i] || first >= end) continue;
            const auto expectedPart = expected_.subspan(static_cast<std::size_t>(first),
                                                        static_cast<std::size_t>(end - first));
            differing_[i] =
                !std::equal(expectedPart.begin(), expectedPart.end(),
                            reply_.begin() + static_cast<std::ptrdiff_t>(first - offset));
        }
    }
    compared_ += length;
    return true;
}

}  // namespace norvale
