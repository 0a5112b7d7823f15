// Flash read back and compared, reply by reply, with the image bytes a write plan puts there.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "operations/FlashRangeReader.h"
#include "operations/WritePlan.h"

namespace norvale {

// Where the bytes a plan laid end to end sends lie: in flash from `address`, in the image from
// `fromOffset`, `count` of them (bytesToSend()).
struct PlanExtent {
    std::uint32_t address = 0;
    std::uint32_t fromOffset = 0;
    std::uint32_t count = 0;
};

// nullopt when the slices are not laid end to end (each one beginning, in flash and in the image
// alike, where the one before ends), or when they would send nothing or 4 GB or more: no single
// read request covers such a plan.
std::optional<PlanExtent> planExtent(const std::vector<ImageSlice>& plan, std::uint64_t imageSize);

// A range read's sink for a read of planExtent(): each reply compared with the image as it comes,
// in the one reply buffer, and kept no longer.
class FlashComparison final : public RangeSink {
public:
    enum class OnDifference {
        // The first differing byte ends the read: the command fails with "записанные данные
        // отличаются от образа, адрес: " and that byte's flash address.
        failCommand,
        // The slice holding it is noted as differing and the read goes on to the end.
        noteSlice,
    };

    // `plan` laid end to end, `extent` its planExtent(), `image` the whole image it writes.
    // Replies are taken in the order of their offsets, as a range read delivers them.
    FlashComparison(const std::vector<ImageSlice>& plan, const PlanExtent& extent,
                    std::span<const std::uint8_t> image, OnDifference onDifference);

    std::span<std::uint8_t> buffer() override { return reply_; }
    bool take(CommandContext& command, std::size_t length, std::uint64_t offset) override;
    std::uint64_t done() const override { return compared_; }
    bool finish(CommandContext& /*command*/) override { return true; }

    // Whether slice `index` of the plan held a differing byte among the replies taken so far.
    bool differs(std::size_t index) const { return differing_[index]; }

private:
    const std::vector<ImageSlice>& plan_;
    PlanExtent extent_;
    std::span<const std::uint8_t> expected_;  // the image bytes of the extent
    OnDifference onDifference_;
    std::vector<std::uint8_t> reply_;
    std::vector<bool> differing_;
    std::size_t firstOpenSlice_ = 0;  // slices before it end before the replies still to come
    std::uint64_t compared_ = 0;
};

}  // namespace norvale
