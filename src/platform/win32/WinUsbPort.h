// The USB seam over SetupAPI and WinUSB: a flash-mode phone whose driver is the generic WinUSB.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <winusb.h>
// cfgmgr32.h declares the device notification records only when WINVER is Windows 8 or later;
// this program is built to start on Windows 7 as well, where the binding does without them.
#pragma push_macro("WINVER")
#undef WINVER
#define WINVER 0x0602
#include <cfgmgr32.h>
#pragma pop_macro("WINVER")

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
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

// What a transfer on a device that has been pulled out ends with; MinGW's headers lack it.
#ifndef ERROR_NO_SUCH_DEVICE
#define ERROR_NO_SUCH_DEVICE 433L
#endif

// The only function driver whose devices this road talks to: a phone bound to the maker's driver
// is the driver road's, though the hub lists it under the USB device class as well.
inline constexpr char kWinUsbService[] = "WinUSB";

// CM_Register_Notification and CM_Unregister_Notification (cfgmgr32.dll, Windows 8 and later;
// MinGW's headers declare neither). They are looked up when the program runs, so it starts where
// cfgmgr32.dll has no such entry points (Windows 7, Wine 8) and watches the bus by timer there.
using CmRegisterNotification = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK,
                                                  PHCMNOTIFICATION);
using CmUnregisterNotification = CONFIGRET(WINAPI*)(HCMNOTIFICATION);
// The system's two entry points, each null where cfgmgr32.dll has none.
CmRegisterNotification systemRegisterNotification();
CmUnregisterNotification systemUnregisterNotification();

// The system entry points the binding calls, so tests can stand fakes in for SetupAPI and
// WinUSB. A fake must behave as the system does: SetupAPI's cbSize checks and two-call detail
// fetch, a device's registry properties with their types and sizes (ERROR_INVALID_DATA for one
// the device does not have); an overlapped transfer completed by setting the status and count in
// Internal and InternalHigh and then the event; a transfer that WinUsb_AbortPipe ends completed
// with STATUS_CANCELLED; WinUsb_GetOverlappedResult as GetOverlappedResult on that record.
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
    decltype(&::WinUsb_ResetPipe) resetPipe = ::WinUsb_ResetPipe;
    decltype(&::WinUsb_ControlTransfer) controlTransfer = ::WinUsb_ControlTransfer;
    decltype(&::SetupDiGetDeviceRegistryPropertyA) getDeviceProperty =
        ::SetupDiGetDeviceRegistryPropertyA;
    decltype(&::SetupDiGetDeviceInstanceIdA) getDeviceInstanceId = ::SetupDiGetDeviceInstanceIdA;
    CmRegisterNotification registerNotification = systemRegisterNotification();
    CmUnregisterNotification unregisterNotification = systemUnregisterNotification();
};

// WinUsb_Initialize's handle; it goes back through WinUsb_Free before its file handle is closed.
struct WinUsbInterfaceTraits {
    using Value = WINUSB_INTERFACE_HANDLE;
    static Value invalid() { return nullptr; }
};

// A CM_Register_Notification registration; CM_Unregister_Notification ends it.
struct CmNotificationTraits {
    using Value = HCMNOTIFICATION;
    static Value invalid() { return nullptr; }
};

// Errors WinUSB completes a transfer with, as the seam reports them:
// - ERROR_SEM_TIMEOUT (a pipe's own time-out) and a transfer this binding aborted when its wait
//   ran out: timedOut;
// - ERROR_DEVICE_NOT_CONNECTED, ERROR_NO_SUCH_DEVICE, ERROR_DEV_NOT_EXIST, ERROR_FILE_NOT_FOUND,
//   ERROR_DEVICE_REMOVED (what a transfer in flight ends with when the phone is pulled out) and
//   ERROR_BAD_COMMAND (what WinUSB answers after that): gone, and every later transfer on the
//   handle ends so at once;
// - ERROR_GEN_FAILURE is both how a stalled endpoint shows and what some host controllers end a
//   transfer with when the device goes: stalled here, and the transfer then asks the device
//   (see WinUsbPort) which of the two it was;
// - ERROR_OPERATION_ABORTED that this binding did not cause: what cancel() ends a transfer with,
//   and also what the I/O manager ends a transfer in flight with when the phone is pulled out;
//   failed, once the device (asked as for a stall) shows it is still there, else gone;
// - anything else: failed.
UsbStatus usbStatusOfError(DWORD error);

// The serial number in a device instance id, "USB\VID_22B8&PID_4903\<serial>". Windows makes up
// the last part, with '&' in it, for a device that has no serial number: empty then.
std::string serialOfInstanceId(std::string_view instanceId);

// Beyond the seam's contract:
// - listPhones() lists the present devices of the USB device class with the phone's ids in their
//   path whose function driver (SPDRP_SERVICE) is WinUSB and whose installation is complete
//   (SPDRP_INSTALL_STATE 0): a phone on the maker's driver, or one whose driver is still being
//   installed, is no phone of this road. A location is the socket, "hub<N>-port<M>", from the
//   device's location information; a device without one is named by its device path. open()
//   and waitForRemoval() take either.
// - lookAtBus() names an attachment by the device's instance id: a serial-less phone put into the
//   same socket gets the same one, so only a look between the two tells them apart.
// - open() opens the path the listing gives for the location; a device that another program has
//   open is refused with ERROR_ACCESS_DENIED (WinUSB devices are opened exclusively): inUse. After
//   the open the device descriptor must give the phone's ids and, where the listing read a
//   serial from the instance id, the device's own serial string must be that text (Windows
//   keeps it upper-cased, so the two are compared so).
// - waitForBusChange() is woken by the system's notices of a device of the USB device class with
//   the phone's ids arriving or leaving (CM_Register_Notification, registered at the first wait
//   and ended when the port goes). A notice that comes while nobody waits is kept for the next
//   wait, so a look at the bus made between two waits misses no change. Where the registration
//   can't be made, it waits its time as the seam's default does.
// - A transfer that ends with ERROR_GEN_FAILURE asks the device for its endpoint's status on the
//   control pipe: a device that answers stalled (and a halted endpoint is reset, so the next
//   transfer finds it working; the IN pipe also has AUTO_CLEAR_STALL), one that does not is
//   gone, and nothing more is sent to it.
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
    WinUsbPort(const WinUsbPort&) = delete;
    WinUsbPort& operator=(const WinUsbPort&) = delete;

    std::vector<std::string> listPhones() override;
    UsbBusLook lookAtBus() override;
    bool waitForBusChange(StopToken stop, std::uint32_t waitMs) override;
    std::string serialNumber(const std::string& location) override;
    UsbOpenFailure openFailure(const std::string& location) override;
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
    UsbStatus resetPipe(DeviceHandle device, bool in) override;
    void cancel(DeviceHandle device) override;
    bool waitForRemoval(const std::string& location, StopToken stop) override;

private:
    struct Device;
    class InQueue;

    // A phone as the bus lists it.
    struct Listed {
        std::string location;  // the socket, or the path when the device names none
        std::string path;      // what CreateFileA opens
        std::string serial;
        std::string instance;  // the device instance id
        bool named(const std::string& wanted) const;
    };
    // The phones, or nullopt when the bus could not be read (not the same as "none").
    std::optional<std::vector<Listed>> enumeratePhones();
    std::optional<std::string> stringProperty(HDEVINFO set, SP_DEVINFO_DATA& device,
                                              DWORD property);
    // After ERROR_GEN_FAILURE on `pipe`: stalled when the device still answers (its halt
    // cleared), gone when it does not.
    UsbStatus stallOrGone(Device& device, UCHAR pipe);
    // Whether the device answers a request on its control pipe (the endpoint's status).
    bool answers(Device& device, UCHAR pipe, std::array<UCHAR, 2>& status);
    struct Opened;
    Opened tryOpen(const std::string& location);
    std::shared_ptr<Device> find(DeviceHandle device);
    UsbTransfer transfer(Device& device, bool out, std::uint8_t* data, std::size_t size,
                         std::uint32_t waitMs);

    // The system's callback for a device interface arriving or leaving; `context` is the port.
    static DWORD CALLBACK noticed(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION action,
                                  PCM_NOTIFY_EVENT_DATA data, DWORD size);

    WinUsbApi api_;
    std::mutex mutex_;
    std::map<std::uintptr_t, std::shared_ptr<Device>> devices_;
    // The notices of the phone's device interfaces: how many came, and how many a wait has seen.
    std::mutex noticesMutex_;
    std::condition_variable noticesChanged_;
    std::uint64_t notices_ = 0;      // under noticesMutex_
    std::uint64_t noticesSeen_ = 0;  // under noticesMutex_
    std::once_flag registerOnce_;
    // Last, so it is ended (and any callback in progress awaited) before what the callback uses.
    UniqueReleasedBy<CmNotificationTraits, CONFIGRET> registration_;
};

}  // namespace norvale
