// The only road to the phone: the driver's pipe write, pipe read and string query requests.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/DeviceHandle.h"
#include "platform/DriverPort.h"
#include "protocol/CommandFormats.h"

namespace norvale {

// Control codes: device type 0x8000, METHOD_BUFFERED, FILE_ANY_ACCESS.
inline constexpr std::uint32_t kIoctlGetString = 0x80002010;
inline constexpr std::uint32_t kIoctlPipeWrite = 0x80002018;
inline constexpr std::uint32_t kIoctlPipeRead = 0x8000201C;

// Every transfer of the system names this pipe.
inline constexpr std::uint8_t kPipe = 2;

// The read reply buffer is one byte larger than the 4-byte prefix plus the largest read (4096);
// the driver is always handed all of it.
inline constexpr std::size_t kReadReplyBufferSize = 4101;
inline constexpr std::size_t kReadReplyPrefixSize = 4;
inline constexpr std::size_t kStringReplyBufferSize = 261;
inline constexpr std::size_t kMaxStringUnits = (kStringReplyBufferSize - 4) / 2;  // 128
inline constexpr std::uint32_t kStringQueryWaitMs = 5000;

// The write record adds a 5-byte header (pipe, little-endian length) and one trailing byte.
inline constexpr std::size_t kWriteRecordOverhead = 6;
inline constexpr std::uint8_t kWriteRecordTrailer = 0;

struct ReadReply {
    bool completed = false;  // the driver completed the request
    Bytes data;              // 0 to maxBytes bytes; empty unless completed
};

struct StringReply {
    bool completed = false;
    std::string text;  // 0 to 128 8-bit characters; empty unless completed
};

// Record layouts, kept apart from the transport so they are tested (and fuzzed) without one.
Bytes buildPipeWriteRecord(std::uint8_t pipe, std::span<const std::uint8_t> data);
std::array<std::uint8_t, 5> buildPipeReadRecord(std::uint8_t pipe, std::uint32_t maxBytes);
// The data of a read reply: the `transferred` bytes of `buffer` after the 4-byte prefix, cut to
// maxBytes; nothing when fewer than 4 bytes were transferred. Never reads past `buffer`.
Bytes decodeReadReply(std::span<const std::uint8_t> buffer, std::uint32_t transferred,
                      std::uint32_t maxBytes);
// The low bytes of the UTF-16 units of a string reply, as many as the unit count says and the
// transferred bytes hold (at most 128).
std::string decodeStringReply(std::span<const std::uint8_t> buffer, std::uint32_t transferred);

// Stateless: every call owns its request and reply buffers, so calls on different threads
// share nothing. It frames nothing and retries nothing; keeping the exchanges with one phone in
// order is the callers' business. The handle is the caller's.
class PhoneLink {
public:
    explicit PhoneLink(DriverPort& driver) : driver_(driver) {}

    // Returns whether the driver completed the write.
    bool writePipe(DeviceHandle device, std::uint8_t pipe, std::span<const std::uint8_t> data,
                   std::uint32_t waitMs) const;
    ReadReply readPipe(DeviceHandle device, std::uint8_t pipe, std::uint32_t maxBytes,
                       std::uint32_t waitMs) const;
    StringReply queryString(DeviceHandle device, std::uint16_t selector) const;

private:
    DriverPort& driver_;
};

}  // namespace norvale
