// A simulated phone's bulk IN endpoint as the bus carries it: replies as max-size packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>

#include "SimPhone.h"
#include "protocol/CommandFormats.h"

namespace norvale {

// The USB bus's rules for a bulk IN transfer, which every stand-in of the USB road follows (the
// simulator, the WinUSB stand-in and the emulated usbfs phone), so that the host is held to what
// a real bus does and not to what the stand-ins' authors expected:
// - The phone's replies travel as packets of the endpoint's max packet size, each reply starting
//   a packet of its own; the last packet of a reply is short unless the reply is whole packets.
// - A transfer ends at a full buffer or at a short packet (a zero-length one included), and at
//   nothing else: a reply that fills whole packets does not end a larger transfer, which waits
//   for more (the bus carries on with the next reply into it, or the host's time runs out).
// - What a transfer does not take stays queued for the next transfer.
// - A packet larger than the room left in the buffer is an overflow: the transfer fails with
//   what fitted, and the rest of that packet is lost.
// - zeroLengthAfterWhole: the device sends a zero-length packet after a reply of whole packets,
//   as some do. It ends a transfer that is still open then; a transfer that was exactly full
//   leaves it queued, and the next transfer ends at once with no data.
// The endpoint asks the phone for its next reply only when a transfer needs a packet and none is
// queued, so the phone's state advances as the host reads. Not thread-safe: its owner serialises
// calls, as it does for the phone.
class SimInEndpoint {
public:
    explicit SimInEndpoint(std::uint32_t maxPacketSize = 64, bool zeroLengthAfterWhole = false)
        : maxPacket_(maxPacketSize), zeroLengthAfterWhole_(zeroLengthAfterWhole) {}

    std::uint32_t maxPacketSize() const { return maxPacket_; }
    bool zeroLengthAfterWhole() const { return zeroLengthAfterWhole_; }
    void setZeroLengthAfterWhole(bool on) { zeroLengthAfterWhole_ = on; }

    enum class End {
        full,         // the buffer is full
        shortPacket,  // a packet shorter than the max size came (a zero-length one included)
        overflow,     // a packet larger than the room left came
        waiting,      // the phone has nothing more to say now: the transfer stays open
    };
    struct Served {
        End end = End::waiting;
        std::size_t filled = 0;  // bytes in the buffer now, those it held before included
    };

    // Carries packets into `buffer`, which already holds `filled` bytes of this transfer, until
    // the transfer ends or no packet is left to send. A buffer of no bytes is full at once.
    Served serve(SimPhone& phone, std::span<std::uint8_t> buffer, std::size_t filled = 0);

    // Bytes queued on the endpoint (zero-length packets count as none), and their packets.
    std::size_t queuedBytes() const;
    std::size_t queuedPackets() const { return packets_.size(); }
    // Forgets what is queued: the phone was restarted or pulled out.
    void clear() { packets_.clear(); }

private:
    void queueReply(const Bytes& reply);

    std::uint32_t maxPacket_;
    bool zeroLengthAfterWhole_;
    std::deque<Bytes> packets_;
};

}  // namespace norvale
