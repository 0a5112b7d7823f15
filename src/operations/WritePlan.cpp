// The slice tables of the fixed regions and the walk of the block-range command.
#include "operations/WritePlan.h"

#include <algorithm>

namespace norvale {
namespace {

constexpr std::uint32_t kSmallBlock = 0x8000;
constexpr std::uint32_t kLargeBlock = 0x20000;
constexpr std::int32_t kLargeBlocksFrom = 0x10020000;

// Images are below 4 GB, so no plan may reach past this offset.
constexpr std::uint64_t kMaxExtent = 0xFFFFFFFFu;

std::int32_t asSigned(std::uint32_t value) { return static_cast<std::int32_t>(value); }

}  // namespace

std::uint32_t flashBlockSize(std::uint32_t address) {
    return asSigned(address) < kLargeBlocksFrom ? kSmallBlock : kLargeBlock;
}

std::vector<ImageSlice> bootSlices() {
    return {{0x10000000, 0x0000, 0x8000}, {0x10008000, 0x8000, 0x10000}};
}

std::vector<ImageSlice> pdsSlices() {
    return {{0x10010000, 0x0000, 0x8000}, {0x10018000, 0x8000, 0x10000}};
}

std::vector<ImageSlice> panicSlices() { return {{0x10020000, 0x00000, 0x20000}}; }

std::optional<std::vector<ImageSlice>> blockRangeSlices(std::uint32_t start, std::uint32_t end) {
    const std::int32_t limit = asSigned(end + 1);  // wraps to 0 for FFFFFFFF, as the walk expects
    std::vector<ImageSlice> slices;
    std::uint32_t current = start;
    std::uint64_t offset = 0;
    while (asSigned(current) < limit) {
        const std::uint32_t blockSize = flashBlockSize(current);
        if (offset + blockSize > kMaxExtent) return std::nullopt;
        const auto from = static_cast<std::uint32_t>(offset);
        slices.push_back({current, from, from + blockSize});
        offset += blockSize;
        current += blockSize;  // modulo 2^32; a walk that wraps is stopped by the extent above
    }
    return slices;
}

std::uint64_t minimumImageSize(const std::vector<ImageSlice>& slices) {
    std::uint64_t extent = 0;
    for (const ImageSlice& slice : slices) {
        if (slice.toOffset > extent) extent = slice.toOffset;
    }
    return extent == 0 ? 0 : extent - kChunkSize + 1;
}

std::pair<std::uint32_t, std::uint32_t> flashCoveredBy(const std::vector<ImageSlice>& plan) {
    const ImageSlice& last = plan.back();
    return {plan.front().address, last.address + (last.toOffset - last.fromOffset) - 1};
}

std::uint64_t bytesToSend(const std::vector<ImageSlice>& slices, std::uint64_t imageSize) {
    std::uint64_t total = 0;
    for (const ImageSlice& slice : slices) {
        const std::uint64_t from = std::min<std::uint64_t>(slice.fromOffset, imageSize);
        const std::uint64_t to = std::min<std::uint64_t>(slice.toOffset, imageSize);
        total += to - from;
    }
    return total;
}

std::vector<ImageSlice> slicesSpanning(const std::vector<ImageSlice>& plan,
                                       const std::vector<ImageSlice>& chosen) {
    if (chosen.empty()) return {};
    const auto first = std::find(plan.begin(), plan.end(), chosen.front());
    const auto last = std::find(first, plan.end(), chosen.back());
    if (last == plan.end()) return {};
    return {first, last + 1};
}

}  // namespace norvale
