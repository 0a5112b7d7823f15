// The WinUSB binding against stand-in SetupAPI and WinUSB entry points that serve the simulated
// phone byte for byte, with real events, waits and completions under Wine.
#include <windows.h>
#include <setupapi.h>
#include <winusb.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "integration/CliRig.h"
#include "integration/OperationsRig.h"
#include "integration/StrictBusStories.h"
#include "platform/StopSignal.h"
#include "platform/win32/UsbSocketName.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32HandleBits.h"
#include "platform/win32/WinUsbPort.h"
#include "presence/AttachedPhones.h"
#include "presence/PhoneWatcher.h"
#include "presence/PresenceHandling.h"
#include "protocol/CommandWorker.h"
#include "protocol/UsbPhoneLink.h"
#include "ui/CommandBodies.h"

namespace norvale {
namespace {

using namespace norvale::testing;

// NTSTATUS values as WinUSB leaves them in OVERLAPPED::Internal.
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusUnsuccessful = 0xC0000001;  // how a stall completes
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
constexpr ULONG_PTR kStatusDeviceNotConnected = 0xC000009D;

constexpr UCHAR kOutPipe = 0x01;
constexpr UCHAR kInPipe = 0x82;
constexpr USHORT kPacket = 512;
const std::string kPhonePath =
    "\\\\?\\usb#vid_22b8&pid_4903#5&2f&0&3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// A device on the stand-in bus: its path, descriptors, and the simulated phone behind its pipes.
struct FakeDevice {
    std::string path = kPhonePath;
    USB_DEVICE_DESCRIPTOR ids{18, 1, 0x0200, 0, 0, 0, 64, 0x22B8, 0x4903, 0, 3, 5, 0, 1};
    // An interrupt endpoint first and the bulk IN before the bulk OUT: nothing rests on order.
    std::vector<WINUSB_PIPE_INFORMATION> pipes{{UsbdPipeTypeInterrupt, 0x83, 16, 1},
                                               {UsbdPipeTypeBulk, kInPipe, kPacket, 0},
                                               {UsbdPipeTypeBulk, kOutPipe, kPacket, 0}};
    std::map<UCHAR, std::string> strings{{3, "Motorola Inc."}, {5, "Motorola Flash Interface"}};
    std::shared_ptr<SimPhone> phone = std::make_shared<SimPhone>();
    // The phone's bulk IN endpoint on the bus, and what WinUSB kept of a packet that was larger
    // than the room left in a read (ALLOW_PARTIAL_READS) for the beginning of the next one.
    SimInEndpoint in{kPacket};
    Bytes keptForNextRead;
    bool attached = true;
    bool silent = false;     // the phone answers no read (NAK) until the read is aborted
    bool silentOut = false;  // nor takes a write: it stays in flight until aborted
    // WinUSB opens a device for one handle at a time: a second CreateFile, this program's or
    // another's, fails with ERROR_ACCESS_DENIED while `heldBy` is not 0.
    int heldBy = 0;  // 1: this program's open handle, 2: another program's
    bool stallIn = false;
    // What SetupAPI tells of the device: its function driver, its installation, its socket and
    // its instance id (Windows makes the last part up, with '&', for a device without a serial).
    std::string service = "WinUSB";
    DWORD installState = 0;
    std::string locationInformation;  // none: the bus driver names no socket
    std::string instanceId = "USB\\VID_22B8&PID_4903\\5&2F&0&3";
    // Endpoints halted until the host clears them (WinUsb_ResetPipe, or AUTO_CLEAR_STALL on an IN
    // pipe, which fails the transfer and then clears the halt).
    std::set<UCHAR> halted;
    // What a transfer in flight ends with when the phone is pulled out.
    ULONG_PTR unplugStatus = kStatusDeviceNotConnected;
};

struct FakeBus {
    std::recursive_mutex mutex;  // the removal poller and a canceller call in from other threads
    std::vector<FakeDevice> devices;
    std::string otherDevice = "\\\\?\\USB#VID_046D&PID_C52B#6&2a&0&1#{a5dcbf10-6530-11d2-901f}";
    std::vector<std::vector<std::string>> sets;  // what each set listed
    int setsOpen = 0;
    GUID classAsked{};
    DWORD flagsAsked = 0;
    DWORD createFlags = 0;
    std::vector<std::string> releases;  // "free N" and "close N", in order
    std::vector<std::pair<UCHAR, Bytes>> writes;
    std::vector<std::pair<UCHAR, ULONG>> reads;
    std::map<std::pair<UCHAR, ULONG>, ULONG> policies;
    std::vector<std::pair<UCHAR, USHORT>> stringsAsked;  // index, language
    std::vector<UCHAR> aborts;
    std::vector<UCHAR> resets;
    int controlRequests = 0;
    int turnedAway = 0;  // transfers refused at once because the device had gone
    std::vector<std::pair<std::size_t, OVERLAPPED*>> pending;  // reads the phone has not answered
    std::vector<std::pair<std::size_t, OVERLAPPED*>> pendingWrites;  // writes it has not taken
    bool setsFail = false;  // SetupDiGetClassDevs fails: the bus can't be read now
    // What each read in flight has taken so far, by its OVERLAPPED record.
    struct InRead {
        PUCHAR buffer = nullptr;
        ULONG size = 0;
        Bytes taken;
    };
    std::map<OVERLAPPED*, InRead> inReads;
    DWORD cancelLatencyMs = 0;  // how long an aborted read takes to complete, from another thread
    std::vector<std::thread> completers;
    std::atomic<ULONGLONG> cancelledAt{0};
    // The one device notification registration CM_Register_Notification makes, while it lasts.
    PCM_NOTIFY_CALLBACK notify = nullptr;
    PVOID notifyContext = nullptr;
    std::mutex callbackInProgress;  // CM_Unregister_Notification waits for a callback to end
    int registrations = 0;
};
FakeBus* bus = nullptr;

// Handles are made-up values that only the stand-ins know; none is ever a real handle.
HANDLE fileOf(std::size_t device) { return reinterpret_cast<HANDLE>(0x7000 + 8 * device); }
WINUSB_INTERFACE_HANDLE usbOf(std::size_t device) {
    return reinterpret_cast<WINUSB_INTERFACE_HANDLE>(0x9000 + 8 * device);
}
std::size_t deviceOf(WINUSB_INTERFACE_HANDLE usb) {
    return (reinterpret_cast<std::uintptr_t>(usb) - 0x9000) / 8;
}
std::vector<std::string>& setOf(HDEVINFO set) {
    return bus->sets.at(reinterpret_cast<std::uintptr_t>(set) - 0x5E70000);
}

BOOL failWith(DWORD error) {
    ::SetLastError(error);
    return FALSE;
}

// As the I/O manager completes a request: status and count first, then the event.
void complete(OVERLAPPED* overlapped, ULONG_PTR status, ULONG count) {
    overlapped->InternalHigh = count;
    overlapped->Internal = status;
    ::SetEvent(overlapped->hEvent);
}

HDEVINFO WINAPI getClassDevs(const GUID* guid, PCSTR, HWND, DWORD flags) {
    const std::lock_guard lock(bus->mutex);
    bus->classAsked = *guid;
    bus->flagsAsked = flags;
    if (bus->setsFail) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<std::string> listed{bus->otherDevice};
    for (const FakeDevice& device : bus->devices) {
        if (device.attached) listed.push_back(device.path);
    }
    bus->sets.push_back(listed);
    ++bus->setsOpen;
    return reinterpret_cast<HDEVINFO>(0x5E70000 + bus->sets.size() - 1);
}

BOOL WINAPI enumInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                           PSP_DEVICE_INTERFACE_DATA member) {
    const std::lock_guard lock(bus->mutex);
    if (member->cbSize != sizeof *member) return failWith(ERROR_INVALID_USER_BUFFER);
    if (index >= setOf(set).size()) return failWith(ERROR_NO_MORE_ITEMS);
    member->Reserved = index;
    return TRUE;
}

BOOL WINAPI interfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA member,
                            PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                            PSP_DEVINFO_DATA device) {
    const std::lock_guard lock(bus->mutex);
    const std::string& path = setOf(set).at(member->Reserved);
    const DWORD needed = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1;
    if (required != nullptr) *required = needed;
    if (detail == nullptr || size < needed) return failWith(ERROR_INSUFFICIENT_BUFFER);
    if (detail->cbSize != sizeof *detail) return failWith(ERROR_INVALID_USER_BUFFER);
    if (device != nullptr) {
        if (device->cbSize != sizeof *device) return failWith(ERROR_INVALID_USER_BUFFER);
        device->Reserved = member->Reserved;
    }
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

// The device a member of a set stands for; null for the other device on the bus.
const FakeDevice* deviceInSet(HDEVINFO set, PSP_DEVINFO_DATA device) {
    const std::string& path = setOf(set).at(device->Reserved);
    for (const FakeDevice& candidate : bus->devices) {
        if (candidate.path == path) return &candidate;
    }
    return nullptr;
}

BOOL WINAPI deviceProperty(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property, PDWORD type,
                           PBYTE buffer, DWORD size, PDWORD required) {
    const std::lock_guard lock(bus->mutex);
    if (device == nullptr || device->cbSize != sizeof *device) {
        return failWith(ERROR_INVALID_PARAMETER);
    }
    const FakeDevice* const phone = deviceInSet(set, device);
    Bytes value;
    DWORD kind = REG_SZ;
    const auto text = [&](const std::string& string) {
        if (!string.empty()) value.assign(string.c_str(), string.c_str() + string.size() + 1);
    };
    if (property == SPDRP_SERVICE) {
        text(phone ? phone->service : "HidUsb");
    } else if (property == SPDRP_LOCATION_INFORMATION) {
        text(phone ? phone->locationInformation : "Port_#0001.Hub_#0002");
    } else if (property == SPDRP_INSTALL_STATE) {
        const DWORD state = phone ? phone->installState : 0;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&state);
        value.assign(bytes, bytes + sizeof state);
        kind = REG_DWORD;
    }
    if (value.empty()) return failWith(ERROR_INVALID_DATA);  // the device has no such property
    if (required != nullptr) *required = static_cast<DWORD>(value.size());
    if (type != nullptr) *type = kind;
    if (size < value.size()) return failWith(ERROR_INSUFFICIENT_BUFFER);
    std::copy(value.begin(), value.end(), buffer);
    return TRUE;
}

// Windows keeps a device instance id upper-cased, the serial number the hub driver took from the
// device included.
BOOL WINAPI instanceId(HDEVINFO set, PSP_DEVINFO_DATA device, PSTR id, DWORD size,
                       PDWORD required) {
    const std::lock_guard lock(bus->mutex);
    const FakeDevice* const phone = deviceInSet(set, device);
    std::string value = phone ? phone->instanceId : "USB\\VID_046D&PID_C52B\\6&2A&0&1";
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (required != nullptr) *required = static_cast<DWORD>(value.size() + 1);
    if (size < value.size() + 1) return failWith(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(id, value.c_str(), value.size() + 1);
    return TRUE;
}

BOOL WINAPI destroySet(HDEVINFO) {
    const std::lock_guard lock(bus->mutex);
    --bus->setsOpen;
    return TRUE;
}

HANDLE WINAPI createFile(LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD flags,
                         HANDLE) {
    const std::lock_guard lock(bus->mutex);
    bus->createFlags = flags;
    for (std::size_t i = 0; i < bus->devices.size(); ++i) {
        FakeDevice& device = bus->devices[i];
        if (device.attached && ::lstrcmpiA(device.path.c_str(), path) == 0) {
            if (device.heldBy != 0) {
                ::SetLastError(ERROR_ACCESS_DENIED);
                return INVALID_HANDLE_VALUE;
            }
            device.heldBy = 1;
            return fileOf(i);
        }
    }
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI closeFile(HANDLE file) {
    const std::lock_guard lock(bus->mutex);
    const std::size_t device = (reinterpret_cast<std::uintptr_t>(file) - 0x7000) / 8;
    bus->releases.push_back("close " + std::to_string(device));
    if (device < bus->devices.size()) bus->devices[device].heldBy = 0;
    return TRUE;
}

BOOL WINAPI initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE usb) {
    // WinUSB refuses a handle that was not opened for overlapped I/O.
    if ((bus->createFlags & FILE_FLAG_OVERLAPPED) == 0) return failWith(ERROR_INVALID_HANDLE);
    *usb = usbOf((reinterpret_cast<std::uintptr_t>(file) - 0x7000) / 8);
    return TRUE;
}

BOOL WINAPI freeUsb(WINUSB_INTERFACE_HANDLE usb) {
    const std::lock_guard lock(bus->mutex);
    bus->releases.push_back("free " + std::to_string(deviceOf(usb)));
    return TRUE;
}

BOOL WINAPI interfaceSettings(WINUSB_INTERFACE_HANDLE usb, UCHAR, PUSB_INTERFACE_DESCRIPTOR out) {
    *out = USB_INTERFACE_DESCRIPTOR{9, 4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
    out->bNumEndpoints = static_cast<UCHAR>(bus->devices.at(deviceOf(usb)).pipes.size());
    return TRUE;
}

BOOL WINAPI queryPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR, UCHAR index,
                      PWINUSB_PIPE_INFORMATION pipe) {
    const auto& pipes = bus->devices.at(deviceOf(usb)).pipes;
    if (index >= pipes.size()) return failWith(ERROR_NO_MORE_ITEMS);
    *pipe = pipes[index];
    return TRUE;
}

BOOL WINAPI setPolicy(WINUSB_INTERFACE_HANDLE, UCHAR pipe, ULONG policy, ULONG size, PVOID value) {
    ULONG number = 0;
    std::memcpy(&number, value, std::min<ULONG>(size, sizeof number));
    bus->policies[{pipe, policy}] = number;
    return TRUE;
}

BOOL WINAPI getDescriptor(WINUSB_INTERFACE_HANDLE usb, UCHAR type, UCHAR index, USHORT language,
                          PUCHAR buffer, ULONG size, PULONG length) {
    const std::lock_guard lock(bus->mutex);
    const FakeDevice& device = bus->devices.at(deviceOf(usb));
    if (!device.attached) return failWith(ERROR_BAD_COMMAND);
    Bytes descriptor;
    if (type == USB_DEVICE_DESCRIPTOR_TYPE) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&device.ids);
        descriptor.assign(bytes, bytes + sizeof device.ids);
    } else if (type == USB_STRING_DESCRIPTOR_TYPE && index == 0) {
        descriptor = {6, 3, 0x07, 0x04, 0x09, 0x04};  // German first, then US English
    } else if (type == USB_STRING_DESCRIPTOR_TYPE && device.strings.count(index) != 0) {
        bus->stringsAsked.emplace_back(index, language);
        descriptor = {0, 3};
        for (const char c : device.strings.at(index)) {
            descriptor.insert(descriptor.end(), {static_cast<std::uint8_t>(c), 0});
        }
        descriptor[0] = static_cast<std::uint8_t>(descriptor.size());
    } else {
        return failWith(ERROR_GEN_FAILURE);  // the device stalls a request it doesn't know
    }
    *length = std::min<ULONG>(size, static_cast<ULONG>(descriptor.size()));
    std::copy_n(descriptor.begin(), *length, buffer);
    return TRUE;
}

ULONG pipePolicy(UCHAR pipe, ULONG policy, ULONG unset) {
    const auto set = bus->policies.find({pipe, policy});
    return set == bus->policies.end() ? unset : set->second;
}

// Carries the phone's packets into a read as WinUSB does without RAW_IO: the transfer on the bus
// asks for whole packets (the read's size rounded up), so the bus never overflows; it ends at a
// full buffer or a short packet. WinUSB then gives the read what fits. The excess of a packet
// larger than the room left is kept for the beginning of the next read (ALLOW_PARTIAL_READS,
// WinUSB's default; AUTO_FLUSH, which would drop it, is never set), or, without
// ALLOW_PARTIAL_READS, the read fails: the documentation names no code for that, and the fake
// uses the one a USB transfer's own failures reach the caller with (STATUS_UNSUCCESSFUL,
// ERROR_GEN_FAILURE). True when the read has ended; false while it waits for the phone.
bool serveRead(FakeDevice& device, OVERLAPPED* overlapped) {
    FakeBus::InRead& read = bus->inReads.at(overlapped);
    if (read.taken.size() < read.size) {
        const std::uint32_t packet = device.in.maxPacketSize();
        const std::size_t room = read.size - read.taken.size();
        Bytes onTheBus(read.taken.size() + (room + packet - 1) / packet * packet);
        std::copy(read.taken.begin(), read.taken.end(), onTheBus.begin());
        const SimInEndpoint::Served served =
            device.in.serve(*device.phone, onTheBus, read.taken.size());
        onTheBus.resize(served.filled);
        read.taken = std::move(onTheBus);
        if (served.end == SimInEndpoint::End::waiting) return false;
    }
    ULONG_PTR status = 0;
    if (read.taken.size() > read.size) {
        if (pipePolicy(kInPipe, ALLOW_PARTIAL_READS, TRUE) == FALSE) {
            status = kStatusUnsuccessful;
        } else {
            device.keptForNextRead.assign(read.taken.begin() + read.size, read.taken.end());
        }
        read.taken.resize(status == 0 ? read.size : 0);
    }
    std::copy(read.taken.begin(), read.taken.end(), read.buffer);
    complete(overlapped, status, static_cast<ULONG>(read.taken.size()));
    bus->inReads.erase(overlapped);
    return true;
}

// Works through the device's reads in flight in the order they were issued, as the host
// controller works through the endpoint's queue, until one has to wait.
void serveReads(std::size_t owner) {
    FakeDevice& device = bus->devices.at(owner);
    if (device.silent) return;
    while (true) {
        const auto next = std::find_if(bus->pending.begin(), bus->pending.end(),
                                       [&](const auto& read) { return read.first == owner; });
        if (next == bus->pending.end() || !serveRead(device, next->second)) return;
        bus->pending.erase(next);
    }
}

// A transfer on a halted endpoint fails as a stall does; on an IN pipe whose AUTO_CLEAR_STALL is
// set, WinUSB then clears the halt itself.
bool failedOnHalt(FakeDevice& device, UCHAR pipe, LPOVERLAPPED overlapped) {
    if (device.halted.count(pipe) == 0) return false;
    complete(overlapped, kStatusUnsuccessful, 0);
    if ((pipe & 0x80) != 0 && bus->policies[{pipe, AUTO_CLEAR_STALL}] != 0) {
        device.halted.erase(pipe);
    }
    return true;
}

BOOL WINAPI writePipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, PUCHAR data, ULONG size, PULONG,
                      LPOVERLAPPED overlapped) {
    const std::lock_guard lock(bus->mutex);
    FakeDevice& device = bus->devices.at(deviceOf(usb));
    if (!device.attached) return ++bus->turnedAway, failWith(ERROR_BAD_COMMAND);
    if (failedOnHalt(device, pipe, overlapped)) return failWith(ERROR_IO_PENDING);
    if (device.silentOut) {
        // The phone answers NAK: the write stays in flight until it is aborted.
        overlapped->Internal = kStatusPending;
        bus->pendingWrites.emplace_back(deviceOf(usb), overlapped);
        return failWith(ERROR_IO_PENDING);
    }
    bus->writes.emplace_back(pipe, Bytes(data, data + size));
    if (pipe == kOutPipe) device.phone->write(std::span(data, size));
    complete(overlapped, 0, size);
    serveReads(deviceOf(usb));  // a read waiting for an answer may have one now
    return failWith(ERROR_IO_PENDING);
}

BOOL WINAPI readPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, PUCHAR buffer, ULONG size, PULONG,
                     LPOVERLAPPED overlapped) {
    const std::lock_guard lock(bus->mutex);
    FakeDevice& device = bus->devices.at(deviceOf(usb));
    if (!device.attached) return ++bus->turnedAway, failWith(ERROR_BAD_COMMAND);
    bus->reads.emplace_back(pipe, size);
    if (failedOnHalt(device, pipe, overlapped)) return failWith(ERROR_IO_PENDING);
    if (device.stallIn) {
        complete(overlapped, kStatusUnsuccessful, 0);
        return failWith(ERROR_IO_PENDING);
    }
    // The phone answers NAK until the read has what ends it, or it is aborted or the device goes.
    overlapped->Internal = kStatusPending;
    bus->inReads[overlapped] = {buffer, size, std::exchange(device.keptForNextRead, {})};
    bus->pending.emplace_back(deviceOf(usb), overlapped);
    serveReads(deviceOf(usb));
    return failWith(ERROR_IO_PENDING);
}

BOOL WINAPI abortPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe) {
    const std::lock_guard lock(bus->mutex);
    bus->aborts.push_back(pipe);
    std::erase_if(pipe == kInPipe ? bus->pending : bus->pendingWrites, [&](const auto& read) {
        if (read.first != deviceOf(usb)) return false;
        OVERLAPPED* const overlapped = read.second;
        bus->completers.emplace_back([overlapped, latency = bus->cancelLatencyMs] {
            ::Sleep(latency);
            bus->cancelledAt = ::GetTickCount64();
            complete(overlapped, kStatusCancelled, 0);
        });
        return true;
    });
    return TRUE;
}

BOOL WINAPI resetPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe) {
    const std::lock_guard lock(bus->mutex);
    FakeDevice& device = bus->devices.at(deviceOf(usb));
    if (!device.attached) return failWith(ERROR_BAD_COMMAND);
    bus->resets.push_back(pipe);
    device.halted.erase(pipe);
    return TRUE;
}

// The standard GET_STATUS of an endpoint, the one control request the binding makes itself.
BOOL WINAPI controlTransfer(WINUSB_INTERFACE_HANDLE usb, WINUSB_SETUP_PACKET setup, PUCHAR buffer,
                            ULONG size, PULONG length, LPOVERLAPPED) {
    const std::lock_guard lock(bus->mutex);
    ++bus->controlRequests;
    const FakeDevice& device = bus->devices.at(deviceOf(usb));
    if (!device.attached) return failWith(ERROR_GEN_FAILURE);
    if (setup.RequestType != 0x82 || setup.Request != 0 || setup.Length != 2 || size < 2) {
        return failWith(ERROR_GEN_FAILURE);  // the device stalls a request it doesn't know
    }
    buffer[0] = device.halted.count(static_cast<UCHAR>(setup.Index)) != 0 ? 1 : 0;
    buffer[1] = 0;
    *length = 2;
    return TRUE;
}

BOOL WINAPI overlappedResult(WINUSB_INTERFACE_HANDLE, LPOVERLAPPED overlapped, LPDWORD count,
                             BOOL wait) {
    // WinUSB's is the system's own on the same record.
    return ::GetOverlappedResult(nullptr, overlapped, count, wait);
}

// As cfgmgr32 takes a registration: the filter's size checked, one callback for the interfaces
// of one class.
CONFIGRET WINAPI registerNotification(PCM_NOTIFY_FILTER filter, PVOID context,
                                      PCM_NOTIFY_CALLBACK callback, PHCMNOTIFICATION handle) {
    const std::lock_guard callbacks(bus->callbackInProgress);
    const std::lock_guard lock(bus->mutex);
    if (filter->cbSize != sizeof *filter) return CR_INVALID_STRUCTURE_SIZE;
    if (filter->FilterType != CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE ||
        filter->u.DeviceInterface.ClassGuid != kUsbDeviceInterfaceClass || bus->notify) {
        return CR_INVALID_DATA;
    }
    bus->notify = callback;
    bus->notifyContext = context;
    ++bus->registrations;
    *handle = reinterpret_cast<HCMNOTIFICATION>(0xC0F1);
    return CR_SUCCESS;
}

CONFIGRET WINAPI unregisterNotification(HCMNOTIFICATION) {
    const std::lock_guard callback(bus->callbackInProgress);
    const std::lock_guard lock(bus->mutex);
    bus->notify = nullptr;
    --bus->registrations;
    return CR_SUCCESS;
}

// The system tells the registration of an interface that arrived or left, on a thread of its own
// pool: the event data holds the interface's path in UTF-16, EventDataSize counts it and its end.
void notice(CM_NOTIFY_ACTION action, const std::string& path) {
    const std::lock_guard lock(bus->mutex);
    bus->completers.emplace_back([action, path] {
        const std::lock_guard callback(bus->callbackInProgress);
        if (!bus->notify) return;
        const DWORD size =
            offsetof(CM_NOTIFY_EVENT_DATA, u.DeviceInterface.SymbolicLink) + (path.size() + 1) * 2;
        std::vector<DWORD> record(size / sizeof(DWORD) + 1);
        auto* const data = reinterpret_cast<PCM_NOTIFY_EVENT_DATA>(record.data());
        data->FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
        data->u.DeviceInterface.ClassGuid = kUsbDeviceInterfaceClass;
        std::copy(path.begin(), path.end(), data->u.DeviceInterface.SymbolicLink);
        bus->notify(reinterpret_cast<HCMNOTIFICATION>(0xC0F1), bus->notifyContext, action, data,
                    size);
    });
}

// The phone is pulled out: transfers in flight end with the device gone (or, as the I/O manager
// may end them, cancelled: 995), later requests fail, and its interface's removal is told.
void unplug(std::size_t device) {
    const std::lock_guard lock(bus->mutex);
    bus->devices.at(device).attached = false;
    notice(CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL, bus->devices.at(device).path);
    for (auto* list : {&bus->pending, &bus->pendingWrites}) {
        for (const auto& [owner, overlapped] : *list) {
            if (owner == device) complete(overlapped, bus->devices.at(device).unplugStatus, 0);
        }
        std::erase_if(*list, [&](const auto& transfer) { return transfer.first == device; });
    }
}

WinUsbApi standIns() {
    return {getClassDevs,
            enumInterfaces,
            interfaceDetail,
            destroySet,
            createFile,
            closeFile,
            initialize,
            freeUsb,
            interfaceSettings,
            queryPipe,
            setPolicy,
            getDescriptor,
            writePipe,
            readPipe,
            abortPipe,
            overlappedResult,
            resetPipe,
            controlTransfer,
            deviceProperty,
            instanceId,
            registerNotification,
            unregisterNotification};
}

class WinUsbPortTest : public ::testing::Test {
protected:
    WinUsbPortTest() { bus = &fake; }
    ~WinUsbPortTest() override {
        for (std::thread& completer : fake.completers) completer.join();
    }

    DeviceHandle openPhone() {
        fake.devices.emplace_back();
        return port.open(kPhonePath);
    }

    FakeBus fake;
    WinUsbPort port{standIns()};
};

TEST_F(WinUsbPortTest, ListsTheFlashPhonesOfTheUsbDeviceClassWhateverTheCaseOfTheirIds) {
    fake.devices.resize(3);
    fake.devices[1].path = "\\\\?\\USB#VID_22B8&PID_4903#5&2f&0&4#{A5DCBF10-6530-11D2-901F}";
    fake.devices[2].path = "\\\\?\\usb#vid_22b8&pid_4903#5&2f&0&5#{a5dcbf10-6530-11d2-901f}";
    fake.devices[2].attached = false;

    EXPECT_EQ(port.listPhones(), (std::vector<std::string>{kPhonePath, fake.devices[1].path}));
    EXPECT_EQ(fake.classAsked, kUsbDeviceInterfaceClass);
    EXPECT_EQ(fake.flagsAsked, DWORD{DIGCF_PRESENT | DIGCF_DEVICEINTERFACE});
    EXPECT_EQ(fake.setsOpen, 0);
}

TEST_F(WinUsbPortTest, PipesPacketSizeAndStringsComeFromTheDescriptors) {
    const DeviceHandle phone = openPhone();
    ASSERT_TRUE(phone.valid());
    EXPECT_NE(fake.createFlags & FILE_FLAG_OVERLAPPED, 0u);
    EXPECT_EQ(port.maxPacketSize(phone), kPacket);
    // No zero-length packet after a write of whole packets; a short packet ends a read.
    EXPECT_EQ((fake.policies[{kOutPipe, SHORT_PACKET_TERMINATE}]), 0u);
    EXPECT_EQ((fake.policies[{kInPipe, IGNORE_SHORT_PACKETS}]), 0u);

    Win32Clock clock;
    const UsbPhoneLink link(port, clock);
    const Bytes z{'Z'};
    EXPECT_TRUE(link.writePipe(phone, 2, z, 0));
    EXPECT_EQ(link.queryString(phone, 0x0103).text, "Motorola Inc.");
    EXPECT_EQ(link.queryString(phone, 0x0002).text, "Motorola Flash Interface");
    EXPECT_EQ(fake.writes, (std::vector<std::pair<UCHAR, Bytes>>{{kOutPipe, z}}));
    // The indices of the device descriptor, in the first language the device lists.
    EXPECT_EQ(fake.stringsAsked, (std::vector<std::pair<UCHAR, USHORT>>{{3, 0x0407}, {5, 0x0407}}));
    port.close(phone);
    EXPECT_EQ(fake.releases, (std::vector<std::string>{"free 0", "close 0"}));

    // Without a bulk OUT endpoint, or with other ids behind the path, nothing opens and nothing
    // stays held.
    fake.releases.clear();
    fake.devices[0].pipes.pop_back();
    EXPECT_FALSE(port.open(kPhonePath).valid());
    fake.devices[0] = FakeDevice{};
    fake.devices[0].ids.idProduct = 0x4902;
    EXPECT_FALSE(port.open(kPhonePath).valid());
    EXPECT_EQ(fake.releases, (std::vector<std::string>{"free 0", "close 0", "free 0", "close 0"}));
}

// Arrival, "Записать PDS" and "Прочитать данные" (the fields as the dialog fills them), as the
// product runs them; what the log shows.
std::string operatorsStory(OperationsRig& rig, Services& services, const Bytes& image) {
    rig.state.device.store(nullptr);
    rig.state.connected = false;
    handleArrival(services);
    rig.pickImage("pds.img", image);
    const CommandBodies bodies = productCommandBodies();
    for (const CommandBody* body : {&bodies.writePds, &bodies.readRangeToFile}) {
        rig.state.busy = true;
        runCommandWorker(services, *body);
    }
    return rig.view.logText();
}

TEST_F(WinUsbPortTest, TheOperatorsStoryPutsTheDriverRoadsDataBytesOnTheBulkOutPipe) {
    const Bytes image = patternImage(0x10000, 41);
    std::string driverLog;
    std::vector<std::string> driverWrites;
    {
        OperationsRig rig;
        driverLog = operatorsStory(rig, rig.services, image);
        for (const std::string& line : rig.sim.driver.trace()) {
            if (line.rfind("W ", 0) == 0) driverWrites.push_back(line);
        }
        EXPECT_EQ(fileBytes("PDS.bin"), image);
    }
    ASSERT_GE(driverLog.size(), text::kSuccess.view().size());
    EXPECT_EQ(driverLog.substr(0, text::kPhoneConnected.view().size()),
              text::kPhoneConnected.view());
    EXPECT_EQ(driverLog.substr(driverLog.size() - text::kSuccess.view().size()),
              text::kSuccess.view());

    OperationsRig rig;
    rig.sim.driver.detachAll();  // the maker's driver has no phone: the USB road carries it all
    fake.devices.emplace_back();
    Win32Clock clock;
    Platform platform{rig.sim.driver, rig.sim.driver,  rig.sim.driver, port,
                      rig.sim.files,  rig.sim.chooser, clock,          rig.sim.threads};
    Services services{rig.state, rig.log, platform, rig.view};
    EXPECT_EQ(operatorsStory(rig, services, image), driverLog);
    EXPECT_EQ(fileBytes("PDS.bin"), image);
    EXPECT_EQ(fake.devices[0].phone->readFlash(0x10010000, image.size()), image);

    std::vector<std::string> usbWrites;
    for (const auto& [pipe, data] : fake.writes) {
        EXPECT_EQ(pipe, kOutPipe);
        usbWrites.push_back(written(data));
    }
    expectTranscript(usbWrites, driverWrites);
    for (const auto& [pipe, size] : fake.reads) {
        EXPECT_EQ(pipe, kInPipe);
        EXPECT_EQ(size % kPacket, 0u) << size;
    }
    rig.state.device.store(nullptr);
}

TEST_F(WinUsbPortTest, ATransferThatRunsOutIsAbortedAndItsEndAwaitedAndAStallIsReported) {
    const DeviceHandle phone = openPhone();
    ASSERT_TRUE(phone.valid());
    // The phone has nothing to say; the aborted read takes a while to complete.
    fake.devices[0].silent = true;
    fake.cancelLatencyMs = 300;
    std::vector<std::uint8_t> buffer(kPacket, 0xEE);
    ULONGLONG start = ::GetTickCount64();
    UsbTransfer read = port.bulkIn(phone, buffer, 200);
    const ULONGLONG returned = ::GetTickCount64();
    EXPECT_EQ(read.status, UsbStatus::timedOut);
    EXPECT_GE(returned - start, 150u);  // the wait ran (tick granularity allowed for)
    EXPECT_EQ(fake.aborts, std::vector<UCHAR>{kInPipe});
    ASSERT_NE(fake.cancelledAt.load(), 0u);
    EXPECT_LE(fake.cancelledAt.load(), returned);  // returned only once the read had ended
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(kPacket, 0xEE));

    // cancel() from another thread ends a long read at once, as a failure of its own.
    fake.cancelLatencyMs = 0;
    std::thread canceller([&] {
        ::Sleep(200);
        port.cancel(phone);
    });
    const int asked = fake.controlRequests;
    start = ::GetTickCount64();
    read = port.bulkIn(phone, buffer, 30000);
    canceller.join();
    EXPECT_EQ(read.status, UsbStatus::failed);
    EXPECT_LT(::GetTickCount64() - start, 5000u);
    // Known as a cut without asking the phone, which may answer no control request either.
    EXPECT_EQ(fake.controlRequests, asked);

    fake.devices[0].stallIn = true;
    EXPECT_EQ(port.bulkIn(phone, buffer, 1000).status, UsbStatus::stalled);
    port.close(phone);
}

// Reads queued ahead end in the order they were issued; one the phone does not answer stays
// outstanding past a reap's wait, and the queue's end aborts it and waits until it has ended.
TEST_F(WinUsbPortTest, QueuedReadsEndInOrderAndTheQueuesEndAbortsAndAwaitsTheRest) {
    const DeviceHandle phone = openPhone();
    ASSERT_TRUE(phone.valid());
    fake.devices[0].phone->write(rqhwPacket);
    fake.devices[0].phone->write(enumPacket);
    fake.cancelLatencyMs = 300;
    std::unique_ptr<UsbInQueue> queue = port.openInQueue(phone);
    ASSERT_NE(queue, nullptr);
    ASSERT_TRUE(queue->submit(kPacket));
    ASSERT_TRUE(queue->submit(kPacket));
    fake.devices[0].silent = true;  // nothing more to say
    ASSERT_TRUE(queue->submit(kPacket));
    EXPECT_EQ(fake.reads.size(), 3u);  // all three issued before the first is reaped

    const UsbReaped first = queue->reap(1000);
    EXPECT_EQ(first.transfer.status, UsbStatus::done);
    ASSERT_EQ(first.data.size(), 32u);
    EXPECT_EQ(std::string(first.data.begin(), first.data.begin() + 5), "\002RQHW");
    const UsbReaped second = queue->reap(1000);
    ASSERT_EQ(second.data.size(), 13u);
    EXPECT_EQ(std::string(second.data.begin(), second.data.begin() + 5), "\002ENUM");
    EXPECT_EQ(queue->reap(200).transfer.status, UsbStatus::timedOut);
    EXPECT_TRUE(fake.aborts.empty()) << "a reap's wait that runs out leaves the read in flight";

    queue.reset();
    const ULONGLONG ended = ::GetTickCount64();
    EXPECT_EQ(fake.aborts, std::vector<UCHAR>{kInPipe});
    ASSERT_NE(fake.cancelledAt.load(), 0u);
    EXPECT_LE(fake.cancelledAt.load(), ended);  // gone only once the aborted read had ended

    // A device that has gone takes no more reads.
    unplug(0);
    queue = port.openInQueue(phone);
    EXPECT_FALSE(queue->submit(kPacket));
    EXPECT_EQ(queue->reap(100).transfer.status, UsbStatus::failed);  // none outstanding
    queue.reset();
    port.close(phone);
}

TEST_F(WinUsbPortTest, ARemovalIsNoticedWithinASecondAndEveryTransferAfterItFailsAtOnce) {
    const DeviceHandle phone = openPhone();
    ASSERT_TRUE(phone.valid());
    EXPECT_FALSE(port.waitForRemoval(fake.otherDevice, {}));
    fake.devices[0].silent = true;

    std::atomic<ULONGLONG> noticedAt{0};
    std::atomic<ULONGLONG> unpluggedAt{0};
    std::thread watcher([&] {
        EXPECT_TRUE(port.waitForRemoval(kPhonePath, {}));
        noticedAt = ::GetTickCount64();
    });
    std::thread puller([&] {
        ::Sleep(600);
        unpluggedAt = ::GetTickCount64();
        unplug(0);
    });
    // A read in flight at the removal: the phone has nothing to say until then.
    std::vector<std::uint8_t> buffer(kPacket);
    const UsbTransfer read = port.bulkIn(phone, buffer, 30000);
    const ULONGLONG readEnded = ::GetTickCount64();
    puller.join();
    watcher.join();
    EXPECT_EQ(read.status, UsbStatus::gone);
    EXPECT_LT(readEnded - unpluggedAt, 1000u);
    EXPECT_LE(noticedAt - unpluggedAt, 1000u);

    const ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(port.bulkOut(phone, Bytes{'Z'}, 60000).status, UsbStatus::gone);
    EXPECT_EQ(port.bulkIn(phone, buffer, 60000).status, UsbStatus::gone);
    EXPECT_LT(::GetTickCount64() - start, 1000u);
    EXPECT_TRUE(fake.writes.empty());
    EXPECT_FALSE(port.waitForRemoval(kPhonePath, {}));
    port.close(phone);
}

// Its owner's stop ends the wait between two looks at the bus, at once and with false, the phone
// still attached.
TEST_F(WinUsbPortTest, AStoppedRemovalWaitEndsAtOnceWithThePhoneStillThere) {
    const DeviceHandle phone = openPhone();
    ASSERT_TRUE(phone.valid());
    StopSource stop;
    std::atomic<bool> returned{false};
    bool removed = true;
    std::thread watcher([&] {
        removed = port.waitForRemoval(kPhonePath, stop.token());
        returned = true;
    });
    ::Sleep(600);
    EXPECT_FALSE(returned);
    const ULONGLONG asked = ::GetTickCount64();
    stop.requestStop();
    watcher.join();
    EXPECT_LT(::GetTickCount64() - asked, 200u);
    EXPECT_FALSE(removed);
    EXPECT_FALSE(port.waitForRemoval(kPhonePath, stop.token()));
    EXPECT_EQ(port.listPhones().size(), 1u);
    port.close(phone);
}

// A full-speed phone (64-byte packets) on the stand-in bus, sending a zero-length packet after a
// reply of whole packets when `zeroLengthAfterWhole`.
FakeDevice& fullSpeedPhone(FakeBus& fake, bool zeroLengthAfterWhole) {
    FakeDevice& device = fake.devices.emplace_back();
    device.pipes[1].MaximumPacketSize = 64;
    device.in = SimInEndpoint(64, zeroLengthAfterWhole);
    return device;
}

// The RAM loader running and `count` bytes of flash from 10000000 requested, straight from the
// phone's side.
void requestFlash(SimPhone& phone, std::uint8_t count) {
    phone.write(Bytes{'A'});
    phone.write(Bytes(2048, 0x33));
    phone.read(64);  // the loader's greeting
    phone.write(Bytes{'R', 0x10, 0, 0, 0, 0, 0, 0, count});
}

class WinUsbStrictBus : public WinUsbPortTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WinUsbStrictBus, ReadsAVerifiedWriteAndARegionReadAskForWhatIsOwed) {
    fullSpeedPhone(fake, GetParam());
    CliRig rig;
    rig.driver.detach(rig.phoneId);  // the USB road carries it all
    rig.usbPort = &port;
    const InTransferSizes sizes = [&] {
        std::vector<std::uint32_t> sizes;
        for (const auto& [pipe, size] : fake.reads) sizes.push_back(size);
        return sizes;
    };
    tellOwedReads(rig, GetParam(), sizes);
    tellVerifiedWriteAndRegionRead(rig, GetParam(), sizes);
    EXPECT_EQ(fake.devices[0].phone->readFlash(0x10010000, 0x10000), patternImage(0x10000, 0x5D));
}

INSTANTIATE_TEST_SUITE_P(ZeroLengthPacket, WinUsbStrictBus, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "AfterWholePackets" : "Never";
                         });

// A read that asks for more than the phone owes waits for a short packet that never comes, as on
// a real bus. One of no whole packets gets what fits; WinUSB keeps the rest of the last packet
// for the beginning of the next read, or fails the read when partial reads are not allowed.
TEST_F(WinUsbPortTest, AReadAskingMoreThanOwedWaitsOutItsTimeAndWinUsbKeepsWhatDidNotFit) {
    FakeDevice& device = fullSpeedPhone(fake, false);
    const DeviceHandle phone = port.open(kPhonePath);
    ASSERT_TRUE(phone.valid());
    const Bytes flash = SimPhone::erasedFlashOf(1, 0x10000000, 0xA0);
    requestFlash(*device.phone, 0x40);
    std::vector<std::uint8_t> buffer(4096);
    EXPECT_EQ(port.bulkIn(phone, buffer, 300).status, UsbStatus::timedOut);
    EXPECT_EQ(fake.aborts, std::vector<UCHAR>{kInPipe});

    // Two whole packets and a short one: 100 bytes, then the other 60.
    requestFlash(*device.phone, 0xA0);
    const UsbTransfer first = port.bulkIn(phone, std::span(buffer).first(100), 1000);
    EXPECT_EQ(first.status, UsbStatus::done);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + first.transferred),
              Bytes(flash.begin(), flash.begin() + 100));
    const UsbTransfer second = port.bulkIn(phone, std::span(buffer).first(64), 1000);
    EXPECT_EQ(second.status, UsbStatus::done);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + second.transferred),
              Bytes(flash.begin() + 100, flash.end()));

    fake.policies[{kInPipe, ALLOW_PARTIAL_READS}] = FALSE;
    requestFlash(*device.phone, 0xA0);
    const UsbTransfer refused = port.bulkIn(phone, std::span(buffer).first(100), 1000);
    EXPECT_NE(refused.status, UsbStatus::done);
    EXPECT_EQ(refused.transferred, 0u);
}

// A phone on the maker's driver shows under the USB device class too, its ids in the path: the
// driver road has it, and `list` shows it once. Of the rest, only phones WinUSB drives and whose
// installation is complete are this road's, each named by its socket, with its serial number.
TEST_F(WinUsbPortTest, OnlyWinUsbPhonesFullyInstalledAreListedEachByItsSocketWithItsSerial) {
    OperationsRig rig;  // the simulated maker's driver holds one phone
    fake.devices.resize(4);
    FakeDevice& winUsb = fake.devices[0];
    winUsb.locationInformation = "Port_#0003.Hub_#0001";
    winUsb.instanceId = "USB\\VID_22B8&PID_4903\\SN0042";
    FakeDevice& makers = fake.devices[1];
    makers.path = "\\\\?\\usb#vid_22b8&pid_4903#5&2f&0&4#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    makers.service = "FlashDrv";
    makers.locationInformation = "Port_#0004.Hub_#0001";
    FakeDevice& installing = fake.devices[2];
    installing.path =
        "\\\\?\\usb#vid_22b8&pid_4903#5&2f&0&5#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    installing.installState = 3;  // CM_INSTALL_STATE_FINISH_INSTALL
    FakeDevice& unnamed = fake.devices[3];
    unnamed.path = "\\\\?\\usb#vid_22b8&pid_4903#5&2f&0&6#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    unnamed.service = "winusb";

    EXPECT_EQ(port.listPhones(), (std::vector<std::string>{"hub1-port3", unnamed.path}));
    EXPECT_EQ(port.serialNumber("hub1-port3"), "SN0042");
    EXPECT_EQ(port.serialNumber(unnamed.path), "");  // an instance id Windows made up
    EXPECT_EQ(port.serialNumber(makers.path), "");
    EXPECT_EQ(fake.setsOpen, 0);

    // The maker's-driver phone is no USB-road phone: not opened, not listed a second time.
    EXPECT_FALSE(port.open(makers.path).valid());
    EXPECT_EQ(port.openFailure(makers.path), UsbOpenFailure::gone);
    const DeviceHandle phone = port.open("hub1-port3");
    ASSERT_TRUE(phone.valid());
    EXPECT_EQ(phone, toDeviceHandle(fileOf(0)));
    port.close(phone);
    EXPECT_EQ(port.openFailure("hub1-port3"), UsbOpenFailure::none);

    fake.devices.erase(fake.devices.begin(), fake.devices.begin() + 1);  // only the maker's left
    fake.devices.resize(1);
    Win32Clock clock;
    Platform platform{rig.sim.driver, rig.sim.driver,  rig.sim.driver, port,
                      rig.sim.files,  rig.sim.chooser, clock,          rig.sim.threads};
    const std::vector<AttachedPhone> listed = listAttachedPhones(platform, rig.services.driverLink);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].road, Road::driver);
}

TEST(UsbSocketName, NamesTheHubAndPortOfTheHubDriversDecimalWordingAndNothingElse) {
    EXPECT_EQ(usbSocketName("Port_#0003.Hub_#0001"), "hub1-port3");
    EXPECT_EQ(usbSocketName("Port_#0012.Hub_#0104"), "hub104-port12");
    EXPECT_EQ(usbSocketName("Port_#0002.Hub_#10104"), "hub10104-port2");  // "%04d": four or more
    EXPECT_EQ(usbSocketName("Port_#003.Hub_#0001"), "");
    EXPECT_EQ(usbSocketName("Port_#00x3.Hub_#0001"), "");
    EXPECT_EQ(usbSocketName("0000.0014.0000.001.003.000.000.000.000"), "");
    EXPECT_EQ(usbSocketName(""), "");
}

// An endpoint that halts stays halted until the host clears it: the transfer that meets the stall
// says so, and the next one finds the pipe working, on either pipe and whether or not WinUSB's
// AUTO_CLEAR_STALL did it for the IN pipe.
TEST_F(WinUsbPortTest, AHaltedPipeIsClearedSoTheNextTransferGoesThrough) {
    const DeviceHandle phone = openPhone();
    ASSERT_TRUE(phone.valid());
    EXPECT_EQ((fake.policies[{kInPipe, AUTO_CLEAR_STALL}]), 1u);
    FakeDevice& device = fake.devices[0];
    SimPhone reference;
    reference.write(rqhwPacket);
    const Bytes rqhwReply = reference.read(kPacket);
    std::vector<std::uint8_t> buffer(kPacket);

    device.halted = {kOutPipe};
    EXPECT_EQ(port.bulkOut(phone, rqhwPacket, 1000).status, UsbStatus::stalled);
    EXPECT_EQ(fake.resets, std::vector<UCHAR>{kOutPipe});
    EXPECT_EQ(port.bulkOut(phone, rqhwPacket, 1000).status, UsbStatus::done);

    device.halted = {kInPipe};  // AUTO_CLEAR_STALL clears it with the failed read
    EXPECT_EQ(port.bulkIn(phone, buffer, 1000).status, UsbStatus::stalled);
    EXPECT_EQ(fake.resets, std::vector<UCHAR>{kOutPipe});
    UsbTransfer read = port.bulkIn(phone, buffer, 1000);
    ASSERT_EQ(read.status, UsbStatus::done);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + read.transferred), rqhwReply);

    // A WinUSB that leaves the halt in place: the binding resets the pipe itself, also for a
    // queued read.
    fake.policies[{kInPipe, AUTO_CLEAR_STALL}] = 0;
    ASSERT_EQ(port.bulkOut(phone, rqhwPacket, 1000).status, UsbStatus::done);
    device.halted = {kInPipe};
    {
        const std::unique_ptr<UsbInQueue> queue = port.openInQueue(phone);
        ASSERT_TRUE(queue->submit(kPacket));
        EXPECT_EQ(queue->reap(1000).transfer.status, UsbStatus::stalled);
    }
    EXPECT_EQ(fake.resets, (std::vector<UCHAR>{kOutPipe, kInPipe}));
    read = port.bulkIn(phone, buffer, 1000);
    ASSERT_EQ(read.status, UsbStatus::done);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + read.transferred), rqhwReply);
    port.close(phone);
}

// NTSTATUS values a read in flight ends with when the phone is pulled out;
// WinUsb_GetOverlappedResult makes the Win32 errors of them.
struct UnplugEnd {
    const char* name;
    ULONG_PTR status;
};

class WinUsbUnplug : public WinUsbPortTest, public ::testing::WithParamInterface<UnplugEnd> {};

TEST_P(WinUsbUnplug, ATransferEndedByThePullIsGoneAndNothingIsRetriedOrReset) {
    const DeviceHandle phone = openPhone();
    ASSERT_TRUE(phone.valid());
    fake.devices[0].silent = true;
    fake.devices[0].unplugStatus = GetParam().status;
    std::thread puller([&] {
        ::Sleep(300);
        unplug(0);
    });
    std::vector<std::uint8_t> buffer(kPacket);
    const UsbTransfer read = port.bulkIn(phone, buffer, 30000);
    puller.join();
    EXPECT_EQ(read.status, UsbStatus::gone);

    // Nothing more goes to the device: no reset, no retry, and later transfers end at once.
    EXPECT_EQ(port.bulkOut(phone, Bytes{'Z'}, 60000).status, UsbStatus::gone);
    EXPECT_EQ(port.bulkIn(phone, buffer, 60000).status, UsbStatus::gone);
    EXPECT_TRUE(fake.resets.empty());
    EXPECT_TRUE(fake.writes.empty());
    EXPECT_EQ(fake.reads.size(), 1u);
    // ERROR_GEN_FAILURE and 995 ask the device once, which is gone.
    EXPECT_LE(fake.controlRequests, 1);
    port.close(phone);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, WinUsbUnplug,
    ::testing::Values(UnplugEnd{"GenFailure", kStatusUnsuccessful},
                      // A Win32 error carried as it is (FACILITY_NTWIN32): ERROR_NO_SUCH_DEVICE.
                      UnplugEnd{"NoSuchDevice", 0xC00701B1},
                      UnplugEnd{"DeviceDoesNotExist", 0xC00000C0},  // ERROR_DEV_NOT_EXIST
                      UnplugEnd{"DeviceNotConnected", kStatusDeviceNotConnected},
                      UnplugEnd{"FileNotFound", 0xC000000E},  // STATUS_NO_SUCH_DEVICE
                      // ERROR_OPERATION_ABORTED, as the I/O manager ends a request in flight.
                      UnplugEnd{"Cancelled", kStatusCancelled}),
    [](const ::testing::TestParamInfo<UnplugEnd>& info) { return std::string(info.param.name); });

// After the pull, WinUSB turns every new transfer away with ERROR_BAD_COMMAND.
TEST_F(WinUsbPortTest, ATransferTurnedAwayAfterThePullIsGoneAndTheNextIsNotIssued) {
    const DeviceHandle phone = openPhone();
    ASSERT_TRUE(phone.valid());
    unplug(0);
    std::vector<std::uint8_t> buffer(kPacket);
    EXPECT_EQ(port.bulkIn(phone, buffer, 60000).status, UsbStatus::gone);
    EXPECT_EQ(port.bulkIn(phone, buffer, 60000).status, UsbStatus::gone);
    EXPECT_EQ(fake.turnedAway, 1);  // the second was never issued
    EXPECT_TRUE(fake.resets.empty());
    EXPECT_EQ(fake.controlRequests, 0);
    port.close(phone);
}

// A day on the bus: another program holds the phone, a bus read fails for a moment, a write the
// phone never takes, and a device whose own serial is not the one its instance id names.
TEST_F(WinUsbPortTest, ABusyPhoneAFailedBusReadAFailedWriteAndAWrongSerialAreToldApart) {
    fake.devices.emplace_back();
    fake.devices[0].heldBy = 2;
    EXPECT_FALSE(port.open(kPhonePath).valid());
    EXPECT_EQ(port.openFailure(kPhonePath), UsbOpenFailure::inUse);
    fake.devices[0].heldBy = 0;
    const DeviceHandle phone = port.open(kPhonePath);
    ASSERT_TRUE(phone.valid());
    EXPECT_EQ(port.openFailure(kPhonePath), UsbOpenFailure::inUse);  // a second opener

    fake.setsFail = true;
    EXPECT_FALSE(port.lookAtBus().read);
    fake.setsFail = false;
    const UsbBusLook look = port.lookAtBus();
    EXPECT_TRUE(look.read);
    EXPECT_EQ(look.phones,
              (std::vector<UsbAttached>{{kPhonePath, "USB\\VID_22B8&PID_4903\\5&2F&0&3"}}));

    // The write is aborted at its wait time and its pipe reset before the next command.
    Win32Clock clock;
    const UsbPhoneLink link(port, clock);
    fake.devices[0].silentOut = true;
    EXPECT_FALSE(link.writePipe(phone, 2, rqhwPacket, 200));
    EXPECT_EQ(fake.aborts, std::vector<UCHAR>{kOutPipe});
    EXPECT_EQ(fake.resets, std::vector<UCHAR>{kOutPipe});
    fake.devices[0].silentOut = false;
    EXPECT_TRUE(link.writePipe(phone, 2, rqhwPacket, 1000));
    port.close(phone);

    // Windows keeps the serial upper-cased: the device's own "sn0042" is that phone, "SN0043"
    // behind the same path is another.
    fake.devices[0].instanceId = "USB\\VID_22B8&PID_4903\\SN0042";
    fake.devices[0].ids.iSerialNumber = 7;
    fake.devices[0].strings[7] = "sn0042";
    const DeviceHandle same = port.open(kPhonePath);
    EXPECT_TRUE(same.valid());
    port.close(same);
    fake.devices[0].strings[7] = "SN0043";
    EXPECT_FALSE(port.open(kPhonePath).valid());
}

// The watch of the bus for a station's phones: the system's notice of a phone's interface wakes
// it (another device's does not); a bus that can't be read keeps every phone and its session; a
// removal is seen.
TEST_F(WinUsbPortTest, TheSystemsNoticeWakesTheWatchAndAnUnreadBusKeepsEverySession) {
    StopSource stop;
    EXPECT_FALSE(port.waitForBusChange(stop.token(), 50));  // registers
    EXPECT_EQ(fake.registrations, 1);
    notice(CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL, fake.otherDevice);
    EXPECT_FALSE(port.waitForBusChange(stop.token(), 300));
    const ULONGLONG start = ::GetTickCount64();
    notice(CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL, kPhonePath);
    EXPECT_TRUE(port.waitForBusChange(stop.token(), 60000));
    EXPECT_LT(::GetTickCount64() - start, 10000u);

    fake.devices.resize(2);
    fake.devices[1].path = "\\\\?\\usb#vid_22b8&pid_4903#5&2f&0&4#{a5dcbf10-6530-11d2-901f}";
    fake.devices[1].locationInformation = "Port_#0004.Hub_#0001";
    OperationsRig rig;
    rig.sim.driver.detachAll();
    Win32Clock clock;
    Platform platform{rig.sim.driver, rig.sim.driver,  rig.sim.driver, port,
                      rig.sim.files,  rig.sim.chooser, clock,          rig.sim.threads};
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> left;
    int unread = 0;
    std::vector<std::shared_ptr<SessionState>> sessions;
    PhoneWatcher watcher(
        platform, [&](const WatchedPhone&) { return sessions.emplace_back(new SessionState); },
        [&](const WatchedPhone& phone) {
            const std::lock_guard lock(mutex);
            left.push_back(phone.phone.location);
            changed.notify_all();
        },
        [&] {
            const std::lock_guard lock(mutex);
            ++unread;
            changed.notify_all();
        });
    watcher.scan();
    ASSERT_EQ(sessions.size(), 2u);
    for (const auto& session : sessions) session->connected = true;

    std::unique_lock lock(mutex);
    fake.setsFail = true;
    notice(CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL, kPhonePath);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return unread == 1; }));
    EXPECT_EQ(watcher.watching(), 2u);
    EXPECT_TRUE(left.empty() && sessions[0]->connected && sessions[1]->connected);
    fake.setsFail = false;
    unplug(1);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return !left.empty(); }));
    EXPECT_EQ(left, std::vector<std::string>{"hub1-port4"});
    EXPECT_TRUE(sessions[0]->connected);
    EXPECT_FALSE(sessions[1]->connected);
}

}  // namespace
}  // namespace norvale
