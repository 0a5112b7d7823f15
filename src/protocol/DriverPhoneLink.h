// The driver road: the phone link as the driver's pipe write, pipe read and string query records.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "platform/DriverPort.h"
#include "protocol/PhoneLink.h"

namespace norvale {

// The read reply buffer is one byte larger than the 4-byte prefix plus the largest read (4096);
// the driver is always handed all of it.
inline constexpr std::size_t kReadReplyBufferSize = 4101;
inline constexpr std::size_t kReadReplyPrefixSize = 4;
inline constexpr std::size_t kStringReplyBufferSize = 261;
static_assert(kMaxStringUnits == (kStringReplyBufferSize - 4) / 2);
inline constexpr std::uint32_t kStringQueryWaitMs = 5000;

// The write record adds a 5-byte header (pipe, little-endian length) and one trailing byte.
inline constexpr std::size_t kWriteRecordOverhead = 6;
inline constexpr std::uint8_t kWriteRecordTrailer = 0;

// Record layouts, kept apart from the transport so they are tested (and fuzzed) without one.
Bytes buildPipeWriteRecord(std::uint8_t pipe, std::span<const std::uint8_t> data);
std::array<std::uint8_t, 5> buildPipeReadRecord(std::uint8_t pipe, std::uint32_t maxBytes);
// The data of a read reply, within `buffer`: the `transferred` bytes of `buffer` after the 4-byte
// prefix, cut to maxBytes; nothing when fewer than 4 bytes were transferred.
std::span<const std::uint8_t> readReplyData(std::span<const std::uint8_t> buffer,
                                            std::uint32_t transferred, std::uint32_t maxBytes);
// The data of a read reply: the `transferred` bytes of `buffer` after the 4-byte prefix, cut to
// maxBytes; nothing when fewer than 4 bytes were transferred. Never reads past `buffer`.
Bytes decodeReadReply(std::span<const std::uint8_t> buffer, std::uint32_t transferred,
                      std::uint32_t maxBytes);
// The low bytes of the UTF-16 units of a string reply, as many as the unit count says and the
// transferred bytes hold (at most 128).
std::string decodeStringReply(std::span<const std::uint8_t> buffer, std::uint32_t transferred);

// On this road a request completes inside the driver call; the wait time only bounds what
// follows, so a wait of 0 loses no reply.
class DriverPhoneLink final : public PhoneLink {
public:
    explicit DriverPhoneLink(DriverPort& driver) : driver_(driver) {}

    // Returns whether the driver completed the write.
    bool writePipe(DeviceHandle device, std::uint8_t pipe, std::span<const std::uint8_t> data,
                   std::uint32_t waitMs) const override;
    ReadReply readPipe(DeviceHandle device, std::uint8_t pipe, std::uint32_t maxBytes,
                       std::uint32_t waitMs) const override;
    // One read at a time, each exactly as readPipe() makes it.
    std::unique_ptr<ReplyStream> openReplies(DeviceHandle device, std::uint8_t pipe,
                                             std::uint64_t totalBytes, std::uint32_t maxBytes,
                                             std::uint32_t waitMs) const override;
    StringReply queryString(DeviceHandle device, std::uint16_t selector) const override;
    void cancel(DeviceHandle device) const override { driver_.cancel(device); }

private:
    DriverPort& driver_;
};

}  // namespace norvale
