// The phone link: the three operations every exchange with the phone goes through, whichever
// road carries them.
#pragma once

#include <cstdint>
#include <memory>
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

// One reply of a ReplyStream: whether its read completed, and how many bytes it put in the
// caller's buffer (0 when it did not complete).
struct StreamedReply {
    bool completed = false;
    std::size_t length = 0;
};

// The replies to one read request, in the order the phone sent them.
// Contract: next() puts the next reply, cut to the stream's maxBytes, into `buffer` (at least
// maxBytes long) and completes or fails as readPipe() would for it; a reply that did not complete
// ends the stream, and every later call fails at once. A road may keep reads in flight ahead of
// the caller, but never more than the bytes the request has still to deliver call for at maxBytes
// a reply, so no read outlives the request's data. Destroying the stream cancels and awaits any
// read still in flight, so none is left to take a reply meant for a later command: the stream
// goes before the next command goes out. One thread uses a stream at a time.
class ReplyStream {
public:
    virtual ~ReplyStream() = default;
    virtual StreamedReply next(std::span<std::uint8_t> buffer) = 0;
};

// Contract, the same on both roads (the driver's records, the USB bulk endpoints):
// - writePipe() sends `data` as one write and says whether it completed.
// - readPipe() returns the data of one reply, at most maxBytes bytes; not completed when the
//   transfer failed or no reply came within its wait time. A read that completed may carry no
//   data: what that means is the caller's call.
// - openReplies() streams the replies to a request for `totalBytes` bytes sent just before,
//   each read as readPipe(device, pipe, maxBytes, waitMs) would read it (see ReplyStream).
// - queryString() returns the device's identity string for `selector` (0x0103: the maker, 0x0002:
//   the flash interface), the low bytes of its UTF-16 units, at most 128.
// - A wait time bounds what follows the request; where a road needs a limit of its own for a
//   wait of 0, it says so. No call waits without end.
// - cancel() may come from any thread: the transfers in flight on the device at that moment end
//   at once, not completed (a reply stream's reads in flight too); one begun after it is not
//   affected. It is how a stop ends a command whose phone never answers without waiting out the
//   transfer's wait time.
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
    virtual std::unique_ptr<ReplyStream> openReplies(DeviceHandle device, std::uint8_t pipe,
                                                     std::uint64_t totalBytes,
                                                     std::uint32_t maxBytes,
                                                     std::uint32_t waitMs) const = 0;
    virtual StringReply queryString(DeviceHandle device, std::uint16_t selector) const = 0;
    virtual void cancel(DeviceHandle device) const = 0;
};

}  // namespace norvale
