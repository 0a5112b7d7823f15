// Seam: one device I/O control request to the flash-mode driver.
#pragma once

#include <cstdint>
#include <span>

#include "platform/DeviceHandle.h"

namespace norvale {

// The flash-mode driver's control codes: device type 0x8000, METHOD_BUFFERED, FILE_ANY_ACCESS.
inline constexpr std::uint32_t kIoctlGetString = 0x80002010;
inline constexpr std::uint32_t kIoctlPipeWrite = 0x80002018;
inline constexpr std::uint32_t kIoctlPipeRead = 0x8000201C;

struct ControlResult {
    // The driver completed the request and reported success. False when it rejected the request,
    // when it did not complete within the wait time, or when its completion reported failure.
    bool completed = false;
    // Bytes the completion reported as transferred (GetOverlappedResult's count); 0 unless
    // completed.
    std::uint32_t transferred = 0;
};

// Contract:
// - control() issues exactly one request with `code`, handing the driver `input` as the input
//   buffer and `output` as the output buffer at exactly their sizes (an empty span is a null
//   buffer of size 0), and returns once the request has completed, or has failed, or `waitMs`
//   milliseconds have passed since it was issued, whichever is first.
// - A request the driver rejects outright returns at once, not after the wait time.
// - A request still outstanding when the wait time has passed is cancelled before control()
//   returns, so nothing writes into `output` afterwards; it reports not completed.
// - Calls on different threads share nothing; the port keeps no state between calls that
//   affects the result of a later call.
// - The handle is the caller's: control() neither opens nor closes it.
// - cancel() may be called from any thread: every request outstanding on the handle at that
//   moment, whichever thread issued it, ends at once (its control() returns not completed, and
//   nothing writes into its `output` afterwards). A request issued after the call is not
//   affected. Harmless when none is outstanding. It is how a stop cuts a request the driver
//   never completes, which the handle being opened for overlapped I/O makes possible.
class DriverPort {
public:
    virtual ~DriverPort() = default;
    virtual ControlResult control(DeviceHandle device, std::uint32_t code,
                                  std::span<const std::uint8_t> input,
                                  std::span<std::uint8_t> output, std::uint32_t waitMs) = 0;
    virtual void cancel(DeviceHandle device) = 0;
};

}  // namespace norvale
