// How long a run's transfers take on a full-speed USB link, reckoned before any phone is asked.
#pragma once

#include <cstdint>
#include <vector>

#include "operations/WritePlan.h"
#include "protocol/FullSpeedBus.h"

namespace norvale {

// The sizes of the loader images as the files hold them (the RAM loader always goes as
// kRamLoaderSize bytes).
struct LoaderImageSizes {
    std::uint64_t loader = 0;
    std::uint64_t jump = 0;
};

// The transfers of a run replayed on the benchmark's bus model (FullSpeedBus), one after the
// other as the driver road makes them: each is submitted when the one before has ended. The
// phone's short replies (an upload's acknowledgement, a chunk's or a block's confirmation, the
// loader's stage replies) take one packet each, the upload's pauses their milliseconds, and the
// host's own work no time. The USB road, with reads queued ahead, reads a little faster.
class TransferEstimate {
public:
    explicit TransferEstimate(LoaderImageSizes sizes) : sizes_(sizes) {}

    // The boot version and mode asked of a phone that arrives (or is listed).
    void identify();
    // The loader bootstrap that opens every command; the jump image goes with the first only.
    void bootstrap();
    // The read request for `count` bytes, its replies of up to 4096 bytes, 'Z'.
    void read(std::uint32_t count);
    // Each slice as 'F', its address, its chunks each with its confirmation, the block's; 'Z'.
    void write(const std::vector<ImageSlice>& plan, std::uint64_t imageSize);
    // 'S' 'A', or 'B': the command bytes alone.
    void commandBytes(unsigned count);

    double milliseconds() const {
        return static_cast<double>(slot_) / static_cast<double>(FullSpeedBus::kSlotsPerFrame);
    }

private:
    void transfer(std::uint64_t bytes);
    void pause(std::uint32_t ms);
    void upload(std::uint64_t imageSize);

    LoaderImageSizes sizes_;
    FullSpeedBus bus_;
    std::uint64_t slot_ = 0;
    bool jumpSent_ = false;
};

}  // namespace norvale
