// USB full speed as the benchmark and the dry run model it: bulk packets in 1 ms frames.
#pragma once

#include <cstddef>
#include <cstdint>

namespace norvale {

// Times are in packet slots: a frame holds 19 bulk packets of 64 bytes (1216 bytes a
// millisecond, what a full-speed bus gives one bulk endpoint at best), so slot s lies in frame
// s / 19. The rules:
// - a transfer submitted during a frame starts in the next frame at the earliest;
// - a transfer is one packet per 64 bytes or part of them (a zero-length one is one packet);
// - transfers run one after another in the order they were submitted, their packets filling the
//   frames back to back; a slot nobody has a transfer in flight for stays unused.
class FullSpeedBus {
public:
    static constexpr std::uint64_t kSlotsPerFrame = 19;
    static constexpr std::size_t kPacketBytes = 64;

    // Schedules a transfer of `bytes` submitted at slot `submitted`; returns the slot after its
    // last packet, when the host learns that it ended.
    std::uint64_t schedule(std::uint64_t submitted, std::size_t bytes) {
        const std::uint64_t nextFrame = (submitted / kSlotsPerFrame + 1) * kSlotsPerFrame;
        const std::uint64_t start = nextFrame > free_ ? nextFrame : free_;
        const std::uint64_t packets = bytes == 0 ? 1 : (bytes + kPacketBytes - 1) / kPacketBytes;
        free_ = start + packets;
        return free_;
    }

private:
    std::uint64_t free_ = 0;  // the first slot no scheduled packet takes
};

}  // namespace norvale
