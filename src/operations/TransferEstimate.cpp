// The run's transfers, command by command, on the bus model.
#include "operations/TransferEstimate.h"

#include <algorithm>

#include "operations/FlashRangeReader.h"
#include "protocol/CommandFormats.h"
#include "protocol/LoaderBootstrap.h"

namespace norvale {
namespace {

// Any reply the phone gives that is not flash data fits in one packet.
constexpr std::uint64_t kShortReply = 1;

}  // namespace

void TransferEstimate::transfer(std::uint64_t bytes) {
    slot_ = bus_.schedule(slot_, static_cast<std::size_t>(bytes));
}

void TransferEstimate::pause(std::uint32_t ms) {
    // A pause runs on the host's millisecond clock, from the millisecond the last transfer ended
    // in.
    const std::uint64_t frames = slot_ / FullSpeedBus::kSlotsPerFrame + ms;
    slot_ = std::max(slot_, frames * FullSpeedBus::kSlotsPerFrame);
}

void TransferEstimate::identify() {
    transfer(rqhwPacket.size());
    transfer(kShortReply);
    transfer(enumPacket.size());
    transfer(kShortReply);
}

void TransferEstimate::upload(std::uint64_t imageSize) {
    for (std::uint64_t offset = 0; offset < imageSize; offset += kMaxBinData) {
        transfer(kAddrPacketSize);
        transfer(kShortReply);
        transfer(std::min<std::uint64_t>(imageSize - offset, kMaxBinData) + kBinPacketFraming);
        pause(kPacketPauseMs);
        transfer(kShortReply);
    }
}

void TransferEstimate::bootstrap() {
    upload(sizes_.loader);
    if (!jumpSent_) {
        jumpSent_ = true;
        upload(sizes_.jump);
    }
    transfer(kShortReply);  // the stage reply
    transfer(1);            // 'A'
    transfer(kRamLoaderSize);
    transfer(kShortReply);
}

void TransferEstimate::read(std::uint32_t count) {
    transfer(buildReadRequest(0, 0).size());
    for (std::uint64_t done = 0; done < count; done += kRangeReplySize) {
        transfer(std::min<std::uint64_t>(count - done, kRangeReplySize));
    }
    transfer(1);  // 'Z'
}

void TransferEstimate::write(const std::vector<ImageSlice>& plan, std::uint64_t imageSize) {
    for (const ImageSlice& slice : plan) {
        transfer(1);  // 'F'
        transfer(encodeAddress(slice.address).size());
        const std::uint64_t end = std::min<std::uint64_t>(slice.toOffset, imageSize);
        for (std::uint64_t offset = slice.fromOffset; offset < end; offset += kChunkSize) {
            transfer(std::min<std::uint64_t>(end - offset, kChunkSize));
            transfer(kShortReply);
        }
        transfer(kShortReply);
    }
    transfer(1);  // 'Z'
}

void TransferEstimate::commandBytes(unsigned count) {
    for (unsigned i = 0; i < count; ++i) transfer(1);
}

}  // namespace norvale
