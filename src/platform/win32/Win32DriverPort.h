// The driver seam over DeviceIoControl, with a per-call event and OVERLAPPED record.
#pragma once

#include <windows.h>

#include "platform/DriverPort.h"

namespace norvale {

using DeviceIoControlFn = BOOL(WINAPI*)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                                        LPOVERLAPPED);
using CancelIoExFn = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);

// Each call creates its own manual-reset event and OVERLAPPED record and releases them before
// it returns, so calls on different threads share nothing. The entry points are injectable so
// tests can stand in for the phone maker's driver; a fake must behave as the I/O manager does
// (status and count in Internal/InternalHigh, the event signalled on completion, and a
// cancelled request completed with STATUS_CANCELLED). The handle must have been opened with
// FILE_FLAG_OVERLAPPED (Win32InterfaceEnumerator::open does): on a handle opened for synchronous
// I/O DeviceIoControl would not return before the driver completes the request, so neither the
// wait time nor cancel() could end one the driver never completes.
class Win32DriverPort final : public DriverPort {
public:
    explicit Win32DriverPort(DeviceIoControlFn deviceIoControl = ::DeviceIoControl,
                             CancelIoExFn cancelIoEx = ::CancelIoEx)
        : deviceIoControl_(deviceIoControl), cancelIoEx_(cancelIoEx) {}

    ControlResult control(DeviceHandle device, std::uint32_t code,
                          std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                          std::uint32_t waitMs) override;
    // CancelIoEx without an OVERLAPPED: every request on the handle, from any thread.
    void cancel(DeviceHandle device) override;

private:
    DeviceIoControlFn deviceIoControl_;
    CancelIoExFn cancelIoEx_;
};

}  // namespace norvale
