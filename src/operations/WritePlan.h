// Which image bytes go to which flash blocks, for each write command, before anything is sent.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace norvale {

// One 'F' command: the image bytes [fromOffset, toOffset) go to the flash block at `address`.
struct ImageSlice {
    std::uint32_t address = 0;
    std::uint32_t fromOffset = 0;
    std::uint32_t toOffset = 0;

    friend bool operator==(const ImageSlice&, const ImageSlice&) = default;
};

// Chunks of a slice are at most this long; every slice is a whole number of chunks.
inline constexpr std::uint32_t kChunkSize = 4096;

// 32 KB below 0x10020000, 128 KB from there on, compared as signed 32-bit values the way the
// block-range command walks its addresses.
std::uint32_t flashBlockSize(std::uint32_t address);

// The fixed regions: the image is consumed from its first byte.
std::vector<ImageSlice> bootSlices();
std::vector<ImageSlice> pdsSlices();
std::vector<ImageSlice> panicSlices();

// The blocks from `start` while they begin below end + 1 (signed, end + 1 in 32 bits), laid end
// to end and unaligned, each taking the next blockSize bytes of the image. Empty when nothing is
// to be written. nullopt when the blocks would need 4 GB of image or more, which no image has:
// that happens only when the walk would run through the top of the signed address space, where
// it would never end.
std::optional<std::vector<ImageSlice>> blockRangeSlices(std::uint32_t start, std::uint32_t end);

// The image length a plan needs: enough to give its last chunk at least one byte. A shorter
// image would leave some chunk with nothing to send. 0 for an empty plan.
std::uint64_t minimumImageSize(const std::vector<ImageSlice>& slices);

// The image bytes a plan sends with an image of `imageSize` bytes (at least minimumImageSize()):
// every slice's bytes that the image holds, which is what the command's progress counts up to.
std::uint64_t bytesToSend(const std::vector<ImageSlice>& slices, std::uint64_t imageSize);

// The first and last flash address of a plan's slices, whole: all a write of it may change (what
// a write's --backup saves). The plan is not empty.
std::pair<std::uint32_t, std::uint32_t> flashCoveredBy(const std::vector<ImageSlice>& plan);

// The slices of `plan` from the first of `chosen` to the last, those between included: for a plan
// laid end to end, the run one read covers. `chosen` holds slices of `plan` in its order; the
// result is empty when it is.
std::vector<ImageSlice> slicesSpanning(const std::vector<ImageSlice>& plan,
                                       const std::vector<ImageSlice>& chosen);

}  // namespace norvale
