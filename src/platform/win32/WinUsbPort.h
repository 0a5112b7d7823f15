// The USB seam over SetupAPI and WinUSB: a flash-mode phone whose driver is the generic WinUSB.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <winusb.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/UsbPort.h"
#include "platform/win32/Win32Handles.h"

namespace norvale {

// The device interface class the system's USB hub driver registers for every device attached to
// a hub (GUID_DEVINTERFACE_USB_DEVICE). Its paths hold the vendor and product ids. For a device
// of one interface whose function driver is WinUSB, this path opens the WinUSB device itself:
// no interface GUID of the driver installation is needed.
inline constexpr GUID kUsbDeviceInterfaceClass = {
    0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};

// How often waitForRemoval() looks at the bus: four times within the second a removal must be
// noticed in.
inline constexpr DWORD kUsbRemovalPollMs = 250;

// The system entry points the binding calls, so tests can stand fakes in for SetupAPI and
// WinUSB. A fake must behave as the system does: SetupAPI's cbSize checks and two-call detail
// fetch; an overlapped transfer completed by setting the status and count in Internal and
// InternalHigh and then the event; a transfer that WinUsb_AbortPipe ends completed with
// STATUS_CANCELLED; WinUsb_GetOverlappedResult as GetOverlappedResult on that record.
struct WinUsbApi {
    decltype(&::SetupDiGetClassDevsA) getClassDevs = ::SetupDiGetClassDevsA;
    decltype(&::SetupDiEnumDeviceInterfaces) enumDeviceInterfaces = ::SetupDiEnumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailA) getInterfaceDetail =
        ::SetupDiGetDeviceInterfaceDetailA;
    decltype(&::SetupDiDestroyDeviceInfoList) destroyDeviceInfoList =
        ::SetupDiDestroyDeviceInfoList;
    decltype(&::CreateFileA) createFile = ::CreateFileA;
    decltype(&::CloseHandle) closeHandle = ::CloseHandle;
    decltype(&::WinUsb_Initialize) initialize = ::WinUsb_Initialize;
    decltype(&::WinUsb_Free) freeInterface = ::WinUsb_Free;
    decltype(&::WinUsb_QueryInterfaceSettings) queryInterfaceSettings =
        ::WinUsb_QueryInterfaceSettings;
    decltype(&::WinUsb_QueryPipe) queryPipe = ::WinUsb_QueryPipe;
    decltype(&::WinUsb_SetPipePolicy) setPipePolicy = ::WinUsb_SetPipePolicy;
    decltype(&::WinUsb_GetDescriptor) getDescriptor = ::WinUsb_GetDescriptor;
    decltype(&::WinUsb_WritePipe) writePipe = ::WinUsb_WritePipe;
    decltype(&::WinUsb_ReadPipe) readPipe = ::WinUsb_ReadPipe;
    decltype(&::WinUsb_AbortPipe) abortPipe = ::WinUsb_AbortPipe;
    decltype(&::WinUsb_GetOverlappedResult) getOverlappedResult = ::WinUsb_GetOverlappedResult;
};

// WinUsb_Initialize's handle; it goes back through WinUsb_Free before its file handle is closed.
struct WinUsbInterfaceTraits {
    using Value = WINUSB_INTERFACE_HANDLE;
    static Value invalid() { return nullptr; }
};

// Errors WinUSB completes a transfer with, as the seam reports them:
// - ERROR_SEM_TIMEOUT (a pipe's own time-out) and a transfer this binding aborted when its wait
//   ran out: timedOut;
// - ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_REMOVED and ERROR_BAD_COMMAND (what WinUSB answers
//   once its device has gone): gone, and every later transfer on the handle ends so at once;
// - ERROR_GEN_FAILURE, which is how a stalled endpoint shows: stalled;
// - ERROR_OPERATION_ABORTED that this binding did not cause (cancel()) and anything else: failed.
UsbStatus usbStatusOfError(DWORD error);

// The device handle the seam gives out holds the bits of the CreateFileA handle; the WinUSB
// handle, the pipes found in the descriptors and the string indices stay in a table until
// close(). Each transfer makes its own manual-reset event and OVERLAPPED record, so calls on
// different threads share nothing but the table's lock. A transfer whose wait runs out aborts its
// pipe (ending whatever is outstanding on it) and awaits the completion before it returns.
// A queue of bulk IN transfers issues each read at submit() with an event and OVERLAPPED record
// of its own (kept for the next transfer); WinUSB completes the reads of a pipe in the order they
// were issued. A queue that goes with reads outstanding aborts the IN pipe and awaits each one.
class WinUsbPort final : public UsbPort {
public:
    explicit WinUsbPort(WinUsbApi api = {}) : api_(api) {}

    std::vector<std::string> listPhones() override;
    DeviceHandle open(const std::string& location) override;
    void close(DeviceHandle device) override;
    std::uint32_t maxPacketSize(DeviceHandle device) override;
    UsbTransfer bulkOut(DeviceHandle device, std::span<const std::uint8_t> data,
                        std::uint32_t waitMs) override;
    UsbTransfer bulkIn(DeviceHandle device, std::span<std::uint8_t> buffer,
                       std::uint32_t waitMs) override;
    std::unique_ptr<UsbInQueue> openInQueue(DeviceHandle device) override;
    UsbTransfer stringDescriptor(DeviceHandle device, UsbString which,
                                 std::span<std::uint8_t> buffer) override;
    void cancel(DeviceHandle device) override;
    bool waitForRemoval(const std::string& location, std::stop_token stop) override;

private:
    struct Device;
    class InQueue;

    // The phones' paths, or nullopt when the bus could not be read (not the same as "none").
    std::optional<std::vector<std::string>> enumeratePhones();
    std::shared_ptr<Device> find(DeviceHandle device);
    UsbTransfer transfer(Device& device, bool out, std::uint8_t* data, std::size_t size,
                         std::uint32_t waitMs);

    WinUsbApi api_;
    std::mutex mutex_;
    std::map<std::uintptr_t, std::shared_ptr<Device>> devices_;
};

}  // namespace norvale
