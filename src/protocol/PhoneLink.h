// The phone link: the three operations every exchange with the phone goes through, whichever
// road carries them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/DeviceHandle.h"
#include "protocol/CommandFormats.h"

namespace norvale {

// Every transfer of the system names this pipe.
inline constexpr std::uint8_t kPipe = 2;

// The most 8-bit characters an identity string carries.
inline constexpr std::size_t kMaxStringUnits = 128;

struct ReadReply {
    bool completed = false;  // the transfer completed
    Bytes data;              // 0 to maxBytes bytes; empty unless completed
};

struct StringReply {
    bool completed = false;
    std::string text;  // 0 to 128 8-bit characters; empty unless completed
};

// Contract, the same on both roads (the driver's records, the USB bulk endpoints):
// - writePipe() sends `data` as one write and says whether it completed.
// - readPipe() returns the data of one reply, at most maxBytes bytes; not completed when the
//   transfer failed or no reply came within its wait time. A read that completed may carry no
//   data: what that means is the caller's call.
// - queryString() returns the device's identity string for `selector` (0x0103: the maker, 0x0002:
//   the flash interface), the low bytes of its UTF-16 units, at most 128.
// - A wait time bounds what follows the request; where a road needs a limit of its own for a
//   wait of 0, it says so. No call waits without end.
// - Stateless: every call owns its request and reply buffers, so calls on different threads
//   share nothing. It frames nothing and retries nothing; keeping the exchanges with one phone
//   in order is the callers' business. The handle is the caller's.
class PhoneLink {
public:
    virtual ~PhoneLink() = default;
    virtual bool writePipe(DeviceHandle device, std::uint8_t pipe,
                           std::span<const std::uint8_t> data, std::uint32_t waitMs) const = 0;
    virtual ReadReply readPipe(DeviceHandle device, std::uint8_t pipe, std::uint32_t maxBytes,
                               std::uint32_t waitMs) const = 0;
    virtual StringReply queryString(DeviceHandle device, std::uint16_t selector) const = 0;
};

}  // namespace norvale
