// Driver requests: DeviceIoControl, a bounded wait on the call's event, the completion's count.
#include "platform/win32/Win32DriverPort.h"

#include <array>

#include "platform/win32/Win32HandleBits.h"
#include "platform/win32/Win32Handles.h"
#include "protocol/PhoneLink.h"

namespace norvale {

// The records and reply buffers are fixed byte layouts: nothing in them may follow the pointer
// size, so the 32-bit and the 64-bit programs hand the driver the same bytes.
static_assert(kReadReplyBufferSize == 4101);
static_assert(kStringReplyBufferSize == 261);
static_assert(kWriteRecordOverhead == 6);
static_assert(kReadReplyPrefixSize == 4);
static_assert(std::tuple_size_v<decltype(buildPipeReadRecord(0, 0))> == 5);
static_assert(sizeof(DWORD) == 4, "buffer sizes are handed to the driver as 32-bit counts");

ControlResult Win32DriverPort::control(DeviceHandle device, std::uint32_t code,
                                       std::span<const std::uint8_t> input,
                                       std::span<std::uint8_t> output, std::uint32_t waitMs) {
    const HANDLE handle = toHandle(device);
    const UniqueHandle event{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    if (!event) return {};

    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();

    // The driver's string query is made with a bytes-returned variable, its pipe requests
    // without one; the count that matters comes from the completion either way.
    DWORD returned = 0;
    DWORD* const returnedOut = code == kIoctlGetString ? &returned : nullptr;
    // DeviceIoControl takes a non-const input pointer but does not write through it.
    void* const in = input.empty() ? nullptr : const_cast<std::uint8_t*>(input.data());
    void* const out = output.empty() ? nullptr : output.data();

    const BOOL issued =
        deviceIoControl_(handle, code, in, static_cast<DWORD>(input.size()), out,
                         static_cast<DWORD>(output.size()), returnedOut, &overlapped);
    // A request the driver (or the system, for a bad handle) turned away never signals the
    // event: waiting for it would only stall the caller for the whole wait time.
    if (!issued && ::GetLastError() != ERROR_IO_PENDING) return {};

    ::WaitForSingleObject(event.get(), waitMs);

    DWORD count = 0;
    if (::GetOverlappedResult(handle, &overlapped, &count, FALSE)) return {true, count};

    if (::GetLastError() == ERROR_IO_INCOMPLETE) {
        // Still outstanding after the wait: the driver would write into `output` and signal the
        // event after both are gone. Cancel it and wait for the cancellation to complete.
        cancelIoEx_(handle, &overlapped);
        ::GetOverlappedResult(handle, &overlapped, &count, TRUE);
    }
    return {};
}

}  // namespace norvale
