// The USB road: the phone link as raw transfers on the phone's bulk endpoints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/Clock.h"
#include "platform/UsbPort.h"
#include "protocol/PhoneLink.h"

namespace norvale {

// On the driver road a request completes inside the call and many waits are 0; a bulk transfer
// always needs a limit, and this is the one it gets where the wait is 0. Long enough for any reply
// the phone gives at once, short enough that a phone that went quiet is noticed.
inline constexpr std::uint32_t kUsbZeroWaitLimitMs = 5000;

// The identity strings stand where the driver's selectors stand: 0x0103 is the maker
// (manufacturer string), 0x0002 the flash interface (product string).
inline constexpr std::uint16_t kManufacturerStringSelector = 0x0103;
inline constexpr std::uint16_t kProductStringSelector = 0x0002;

// Bulk IN transfers a reply stream keeps in flight. At full speed a 4096-byte reply takes about
// 3.4 ms on the bus, so with four queued the host may be some 10 ms late taking a reply (a busy
// machine's scheduling slice) before the bus waits for it; more would buy nothing but memory.
inline constexpr std::size_t kUsbReadAhead = 4;

// After a reply cut by its wait time the rest of it is still coming: the IN pipe is read with
// this short wait until a read brings nothing, at most kUsbDrainReads reads of
// kUsbDrainBytes, so the next command does not take it for its own reply.
inline constexpr std::uint32_t kUsbDrainWaitMs = 100;
inline constexpr std::uint32_t kUsbDrainBytes = 4096;
inline constexpr std::size_t kUsbDrainReads = 64;

// The wait a USB transfer gets for a wait time of the driver road.
constexpr std::uint32_t usbTransferLimit(std::uint32_t waitMs) {
    return waitMs != 0 ? waitMs : kUsbZeroWaitLimitMs;
}

// A bulk IN transfer asks for whole max-size packets, so a packet longer than maxBytes is never
// an overflow: maxBytes rounded up to the packet size (one packet for 0).
std::uint32_t bulkInRequestSize(std::uint32_t maxBytes, std::uint32_t maxPacketSize);

// The low bytes of a string descriptor's UTF-16LE units (at most 128), as the driver road keeps
// them; nothing when the descriptor is malformed.
std::string decodeStringDescriptor(std::span<const std::uint8_t> descriptor);

// What the driver road hands the driver as a pipe write's data goes out as it is, and a reply is
// the data of one bulk IN transfer, cut to maxBytes. A zero-length packet ends a transfer but is
// not a reply: the read goes on until data comes or the wait time ends (and if only zero-length
// packets came, the read completed with no data). The pipe number names nothing on this road: the
// device has one bulk endpoint each way.
//
// What the road assumes of the bus is only the bus's own rule: a bulk IN transfer ends at a full
// buffer or a short packet, and nothing else. It does not assume that a reply ends a transfer,
// nor that the phone sends a zero-length packet after a reply of whole packets. Hence:
// - A reply stream (a range read, whose replies are maxBytes long until the last) asks each
//   transfer for what the phone still owes, at most one reply, in whole packets: a range of
//   0x1040 bytes is read as transfers of 4096 and 64 bytes, each ended by a full buffer. It keeps
//   up to `readAhead` transfers queued (fewer when the request has less left to deliver), so the
//   phone's replies follow one another on the bus without waiting for the host; each reply is
//   what readPipe() would have read, with the wait time counted from the moment the caller asks
//   for it. A readAhead of 1 reads one transfer at a time.
// - readPipe() serves the replies whose length the caller does not know, only the most they may
//   hold: the boot ROM's answers to the upload packets, the loader's stage replies, the RQHW and
//   ENUM replies and the write acknowledgements. It asks for maxBytes in whole packets, and what
//   ends the transfer on a bus is the short packet the reply ends with: each of these replies is
//   shorter than one packet (32 bytes at most, against 64 at full speed), so it travels as a
//   single short packet. That is safe because the phone sends nothing more until the next
//   command: a transfer can't take a second reply. Were a device to answer with whole packets
//   and no zero-length packet, the read would wait out its time and fail as an unanswered one
//   does, never joining two replies.
// - A failed data transfer on a phone still attached leaves its pipe unusable until it is reset:
//   a write whose wait ran out or that stalled or overflowed, and a read that stalled or
//   overflowed, reset their pipe (UsbPort::resetPipe) before the call returns. One that cancel()
//   ended (a stop) does not: the stop must not wait on a phone that may answer nothing. A read
//   whose wait ran out after part of a reply had come, and a reply stream that ends so after its
//   first reply, drain the IN pipe (see kUsbDrainWaitMs).
// - queryString() reads a string descriptor with a control transfer, which its status stage
//   ends whatever the descriptor's length: nothing there waits for more.
class UsbPhoneLink final : public PhoneLink {
public:
    UsbPhoneLink(UsbPort& usb, Clock& clock, std::size_t readAhead = kUsbReadAhead)
        : usb_(usb), clock_(clock), readAhead_(readAhead < 1 ? 1 : readAhead) {}

    bool writePipe(DeviceHandle device, std::uint8_t pipe, std::span<const std::uint8_t> data,
                   std::uint32_t waitMs) const override;
    ReadReply readPipe(DeviceHandle device, std::uint8_t pipe, std::uint32_t maxBytes,
                       std::uint32_t waitMs) const override;
    std::unique_ptr<ReplyStream> openReplies(DeviceHandle device, std::uint8_t pipe,
                                             std::uint64_t totalBytes, std::uint32_t maxBytes,
                                             std::uint32_t waitMs) const override;
    StringReply queryString(DeviceHandle device, std::uint16_t selector) const override;
    void cancel(DeviceHandle device) const override { usb_.cancel(device); }

private:
    UsbPort& usb_;
    Clock& clock_;
    std::size_t readAhead_;
};

}  // namespace norvale
