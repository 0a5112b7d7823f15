// WinUSB transfers on the phone's bulk pipes, found with SetupAPI by vendor and product id.
#include "platform/win32/WinUsbPort.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/win32/UsbSocketName.h"
#include "platform/win32/Win32HandleBits.h"

namespace norvale {
namespace {

using UniqueDeviceInfoSet = UniqueReleasedBy<DevInfoTraits>;
using UniqueDeviceFile = UniqueReleasedBy<FileHandleTraits>;
using UniqueWinUsbInterface = UniqueReleasedBy<WinUsbInterfaceTraits>;

// bLength is one byte: no descriptor is longer.
constexpr ULONG kDescriptorMax = 255;

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string upperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// "vid_22b8&pid_4903", as the hub driver writes the ids into the device's path.
std::string idsInPath() {
    char ids[32];
    std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", unsigned{kFlashModeVendorId},
                  unsigned{kFlashModeProductId});
    return ids;
}

// One policy value. WinUsb_Initialize has already reset every policy to its default, which is
// what the protocol needs; each is set anyway so that what it relies on is stated here and not
// left to a default. A policy that can't be set leaves that default, so a failure is ignored.
template <typename Value>
void setPolicy(const WinUsbApi& api, WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, ULONG policy,
               Value value) {
    api.setPipePolicy(handle, pipe, policy, sizeof value, &value);
}

// cfgmgr32.dll from the system's own folder, loaded once and kept for the life of the process
// (setupapi.dll, which the program imports, uses it anyway); null where it can't be loaded.
HMODULE configManager() {
    static const HMODULE module =
        ::LoadLibraryExA("cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module;
}

template <typename Call>
Call configManagerCall(const char* name) {
    const HMODULE module = configManager();
    return module ? reinterpret_cast<Call>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                  : nullptr;
}

}  // namespace

CmRegisterNotification systemRegisterNotification() {
    return configManagerCall<CmRegisterNotification>("CM_Register_Notification");
}

CmUnregisterNotification systemUnregisterNotification() {
    return configManagerCall<CmUnregisterNotification>("CM_Unregister_Notification");
}

struct WinUsbPort::Device {
    // Declared in this order so the WinUSB handle is freed before its file handle is closed.
    UniqueDeviceFile file;
    UniqueWinUsbInterface usb;
    UCHAR outPipe = 0;
    UCHAR inPipe = 0;
    std::uint32_t inMaxPacket = 0;
    UCHAR manufacturerIndex = 0;
    UCHAR productIndex = 0;
    std::optional<USHORT> language;
    // Set by the first transfer that finds the device gone; later ones end at once.
    std::atomic<bool> gone{false};
    // Raised by cancel() before it aborts the pipes, so a transfer it ended knows it was cut.
    std::atomic<std::uint64_t> cancels{0};
};

UsbStatus usbStatusOfError(DWORD error) {
    switch (error) {
        case ERROR_SEM_TIMEOUT: return UsbStatus::timedOut;
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_NO_SUCH_DEVICE:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_BAD_COMMAND: return UsbStatus::gone;
        case ERROR_GEN_FAILURE: return UsbStatus::stalled;
        default: return UsbStatus::failed;
    }
}

std::string serialOfInstanceId(std::string_view instanceId) {
    const std::size_t slash = instanceId.rfind('\\');
    if (slash == std::string_view::npos) return {};
    const std::string_view last = instanceId.substr(slash + 1);
    if (last.find('&') != std::string_view::npos) return {};
    return std::string(last);
}

bool WinUsbPort::Listed::named(const std::string& wanted) const {
    const std::string lower = lowerCase(wanted);
    return lowerCase(location) == lower || lowerCase(path) == lower;
}

std::optional<std::string> WinUsbPort::stringProperty(HDEVINFO set, SP_DEVINFO_DATA& device,
                                                      DWORD property) {
    // A service name and a location are short; a longer text is no answer worth having.
    std::array<char, 256> text{};
    DWORD type = 0;
    if (!api_.getDeviceProperty(set, &device, property, &type, reinterpret_cast<PBYTE>(text.data()),
                                static_cast<DWORD>(text.size() - 1), nullptr) ||
        type != REG_SZ) {
        return std::nullopt;
    }
    return std::string(text.data(), strnlen(text.data(), text.size()));
}

std::optional<std::vector<WinUsbPort::Listed>> WinUsbPort::enumeratePhones() {
    const UniqueDeviceInfoSet set{api_.getClassDevs(&kUsbDeviceInterfaceClass, nullptr, nullptr,
                                                    DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
                                  api_.destroyDeviceInfoList};
    if (!set) return std::nullopt;

    const std::string ids = idsInPath();
    std::vector<Listed> phones;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA member{};
        member.cbSize = sizeof member;
        if (!api_.enumDeviceInterfaces(set.get(), nullptr, &kUsbDeviceInterfaceClass, index,
                                       &member)) {
            if (::GetLastError() == ERROR_NO_MORE_ITEMS) break;
            return std::nullopt;
        }
        // The path's size first; the call fails with ERROR_INSUFFICIENT_BUFFER when it tells it.
        DWORD required = 0;
        if (api_.getInterfaceDetail(set.get(), &member, nullptr, 0, &required, nullptr) ||
            ::GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
            required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            continue;  // a member that went while it was listed
        }
        // Zero-filled, so a path the call leaves short still ends within the record.
        std::vector<char> record(required, '\0');
        const DWORD cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        std::memcpy(record.data(), &cbSize, sizeof cbSize);
        auto* const detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(record.data());
        // The device behind the interface comes with it: its properties say whose it is.
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!api_.getInterfaceDetail(set.get(), &member, detail, required, nullptr, &device)) {
            continue;
        }
        const std::size_t offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        std::string path(record.data() + offset,
                         strnlen(record.data() + offset, required - offset));
        // The system writes the ids in either case.
        if (lowerCase(path).find(ids) == std::string::npos) continue;

        // Only a phone WinUSB drives, fully installed, is this road's: under the maker's driver
        // the driver road has it, and a device still being set up has no driver to talk to yet.
        const std::optional<std::string> service = stringProperty(set.get(), device, SPDRP_SERVICE);
        if (!service || lowerCase(*service) != lowerCase(kWinUsbService)) continue;
        DWORD installState = ~DWORD{0};
        DWORD type = 0;
        if (!api_.getDeviceProperty(set.get(), &device, SPDRP_INSTALL_STATE, &type,
                                    reinterpret_cast<PBYTE>(&installState), sizeof installState,
                                    nullptr) ||
            type != REG_DWORD || installState != 0) {
            continue;
        }

        Listed phone;
        const std::optional<std::string> where =
            stringProperty(set.get(), device, SPDRP_LOCATION_INFORMATION);
        phone.location = where ? usbSocketName(*where) : std::string{};
        if (phone.location.empty()) phone.location = path;
        std::array<char, MAX_DEVICE_ID_LEN + 1> instance{};
        if (api_.getDeviceInstanceId(set.get(), &device, instance.data(),
                                     static_cast<DWORD>(instance.size()), nullptr)) {
            phone.instance = instance.data();
            phone.serial = serialOfInstanceId(phone.instance);
        }
        phone.path = std::move(path);
        phones.push_back(std::move(phone));
    }
    return phones;
}

UsbBusLook WinUsbPort::lookAtBus() {
    UsbBusLook look;
    std::optional<std::vector<Listed>> phones = enumeratePhones();
    if (!phones) return look;
    look.read = true;
    for (Listed& phone : *phones) {
        look.phones.push_back({std::move(phone.location), std::move(phone.instance)});
    }
    return look;
}

DWORD CALLBACK WinUsbPort::noticed(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION action,
                                   PCM_NOTIFY_EVENT_DATA data, DWORD size) {
    // Called on a thread of the system's pool, which waits for it: it only counts the notice.
    // Other devices of the class (a mouse, a hub) wake nobody: only an interface whose path
    // holds the phone's ids, as the listing looks for them.
    constexpr DWORD link = offsetof(CM_NOTIFY_EVENT_DATA, u.DeviceInterface.SymbolicLink);
    if ((action != CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL &&
         action != CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL) ||
        data == nullptr || size <= link ||
        data->FilterType != CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE) {
        return ERROR_SUCCESS;
    }
    const std::size_t units = (size - link) / sizeof(WCHAR);
    std::string path;
    for (std::size_t i = 0; i < units && data->u.DeviceInterface.SymbolicLink[i] != L'\0'; ++i) {
        const wchar_t unit = data->u.DeviceInterface.SymbolicLink[i];
        path += unit < 0x80 ? static_cast<char>(std::towlower(unit)) : '?';
    }
    if (path.find(idsInPath()) == std::string::npos) return ERROR_SUCCESS;
    auto& port = *static_cast<WinUsbPort*>(context);
    const std::lock_guard lock(port.noticesMutex_);
    ++port.notices_;
    port.noticesChanged_.notify_all();
    return ERROR_SUCCESS;
}

bool WinUsbPort::waitForBusChange(StopToken stop, std::uint32_t waitMs) {
    std::call_once(registerOnce_, [this] {
        if (api_.registerNotification == nullptr || api_.unregisterNotification == nullptr) return;
        CM_NOTIFY_FILTER filter{};
        filter.cbSize = sizeof filter;
        filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
        filter.u.DeviceInterface.ClassGuid = kUsbDeviceInterfaceClass;
        HCMNOTIFICATION registration = nullptr;
        if (api_.registerNotification(&filter, this, &WinUsbPort::noticed, &registration) ==
            CR_SUCCESS) {
            registration_ = {registration, api_.unregisterNotification};
        }
    });
    if (!registration_) return UsbPort::waitForBusChange(std::move(stop), waitMs);

    const StopWake wake(stop, [this] {
        const std::lock_guard lock(noticesMutex_);
        noticesChanged_.notify_all();
    });
    std::unique_lock lock(noticesMutex_);
    noticesChanged_.wait_for(lock, std::chrono::milliseconds(waitMs),
                             [&] { return stop.stopRequested() || notices_ != noticesSeen_; });
    const bool told = notices_ != noticesSeen_;
    noticesSeen_ = notices_;
    return told;
}

std::vector<std::string> WinUsbPort::listPhones() {
    std::vector<std::string> locations;
    for (Listed& phone : enumeratePhones().value_or(std::vector<Listed>{})) {
        locations.push_back(std::move(phone.location));
    }
    return locations;
}

std::string WinUsbPort::serialNumber(const std::string& location) {
    for (const Listed& phone : enumeratePhones().value_or(std::vector<Listed>{})) {
        // Windows keeps instance ids upper-cased, and the Linux binding gives serials so: the
        // same phone reads the same on both systems, whatever a driver wrote.
        if (phone.named(location)) return upperCase(phone.serial);
    }
    return {};
}

struct WinUsbPort::Opened {
    DeviceHandle device = kInvalidDevice;
    UsbOpenFailure failure = UsbOpenFailure::failed;
};

UsbOpenFailure WinUsbPort::openFailure(const std::string& location) {
    const Opened opened = tryOpen(location);
    if (opened.device.valid()) close(opened.device);
    return opened.failure;
}

DeviceHandle WinUsbPort::open(const std::string& location) { return tryOpen(location).device; }

WinUsbPort::Opened WinUsbPort::tryOpen(const std::string& location) {
    const std::optional<std::vector<Listed>> phones = enumeratePhones();
    if (!phones) return {};
    const auto listed = std::find_if(phones->begin(), phones->end(),
                                     [&](const Listed& phone) { return phone.named(location); });
    if (listed == phones->end()) return {kInvalidDevice, UsbOpenFailure::gone};
    const std::string& path = listed->path;
    auto device = std::make_shared<Device>();
    // WinUSB works only on a handle opened for overlapped I/O.
    device->file =
        UniqueDeviceFile{api_.createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE,

                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr),
                         api_.closeHandle};
    if (!device->file) {
        const DWORD error = ::GetLastError();
        // Any user may open a WinUSB device, but only one at a time: another program has it.
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            return {kInvalidDevice, UsbOpenFailure::inUse};
        }
        return {kInvalidDevice, usbStatusOfError(error) == UsbStatus::gone
                                    ? UsbOpenFailure::gone
                                    : UsbOpenFailure::failed};
    }
    WINUSB_INTERFACE_HANDLE usb = nullptr;
    if (!api_.initialize(device->file.get(), &usb)) return {};
    device->usb = UniqueWinUsbInterface{usb, api_.freeInterface};

    // Another device behind the path gets no flash commands. The device descriptor also gives
    // the indices of the two strings.
    USB_DEVICE_DESCRIPTOR ids{};
    ULONG length = 0;
    if (!api_.getDescriptor(usb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, reinterpret_cast<PUCHAR>(&ids),
                            sizeof ids, &length) ||
        length != sizeof ids || ids.bDescriptorType != USB_DEVICE_DESCRIPTOR_TYPE ||
        ids.idVendor != kFlashModeVendorId || ids.idProduct != kFlashModeProductId) {
        return {};
    }
    device->manufacturerIndex = ids.iManufacturer;
    device->productIndex = ids.iProduct;

    // The one interface's first bulk endpoint each way; the IN one's packet size sizes reads.
    USB_INTERFACE_DESCRIPTOR settings{};
    if (!api_.queryInterfaceSettings(usb, 0, &settings)) return {};
    for (UCHAR index = 0; index < settings.bNumEndpoints; ++index) {
        WINUSB_PIPE_INFORMATION pipe{};
        if (!api_.queryPipe(usb, 0, index, &pipe) || pipe.PipeType != UsbdPipeTypeBulk) continue;
        if (USB_ENDPOINT_DIRECTION_IN(pipe.PipeId)) {
            if (device->inPipe == 0 && pipe.MaximumPacketSize != 0) {
                device->inPipe = pipe.PipeId;
                device->inMaxPacket = pipe.MaximumPacketSize;
            }
        } else if (device->outPipe == 0) {
            device->outPipe = pipe.PipeId;
        }
    }
    if (device->inPipe == 0 || device->outPipe == 0) return {};

    // The loader counts bytes: a write whose length is a whole number of packets gets no
    // zero-length packet after it.
    setPolicy(api_, usb, device->outPipe, SHORT_PACKET_TERMINATE, UCHAR{FALSE});
    // A short packet (a zero-length one too) ends a read; reads are whole packets, so the phone
    // can't send more than asked, and raw I/O, which would change how requests queue, stays off.
    // A stalled read fails and the stall is cleared at once, as WinUSB does it for IN pipes; a
    // stalled write's pipe is reset by the transfer that found it halted.
    setPolicy(api_, usb, device->inPipe, AUTO_CLEAR_STALL, UCHAR{TRUE});
    setPolicy(api_, usb, device->inPipe, IGNORE_SHORT_PACKETS, UCHAR{FALSE});
    setPolicy(api_, usb, device->inPipe, ALLOW_PARTIAL_READS, UCHAR{TRUE});
    setPolicy(api_, usb, device->inPipe, RAW_IO, UCHAR{FALSE});
    // Each transfer's own wait decides when it is aborted, not a time-out of the pipe.
    setPolicy(api_, usb, device->outPipe, PIPE_TRANSFER_TIMEOUT, ULONG{0});
    setPolicy(api_, usb, device->inPipe, PIPE_TRANSFER_TIMEOUT, ULONG{0});

    // String descriptor 0 lists the languages; the strings are read in the first. A device
    // without one still opens: it is a phone in flash mode by its ids, and only the strings fail.
    // A control transfer waits at most the control pipe's default 5 seconds.
    std::array<UCHAR, kDescriptorMax> languages{};
    if (api_.getDescriptor(usb, USB_STRING_DESCRIPTOR_TYPE, 0, 0, languages.data(), kDescriptorMax,
                           &length) &&
        length >= 4 && languages[0] >= 4 && languages[1] == USB_STRING_DESCRIPTOR_TYPE) {
        device->language = static_cast<USHORT>(languages[2] | (languages[3] << 8));
    }
    // The device behind the path is the phone the bus listed there: its own serial is the one
    // its instance id names. A device that gives none is taken at its ids.
    if (!listed->serial.empty() && ids.iSerialNumber != 0 && device->language) {
        std::array<UCHAR, kDescriptorMax> serial{};
        if (!api_.getDescriptor(usb, USB_STRING_DESCRIPTOR_TYPE, ids.iSerialNumber,
                                *device->language, serial.data(), kDescriptorMax, &length) ||
            length < 2 || serial[1] != USB_STRING_DESCRIPTOR_TYPE) {
            return {};
        }
        std::string text;
        for (ULONG i = 2; i + 1 < std::min<ULONG>(length, serial[0]); i += 2) {
            text += static_cast<char>(serial[i]);
        }
        if (upperCase(text) != upperCase(listed->serial))
            return {kInvalidDevice, UsbOpenFailure::gone};
    }

    const DeviceHandle handle = toDeviceHandle(device->file.get());
    const std::lock_guard lock(mutex_);
    devices_[handle.bits] = std::move(device);
    return {handle, UsbOpenFailure::none};
}

void WinUsbPort::close(DeviceHandle device) {
    std::shared_ptr<Device> closing;
    {
        const std::lock_guard lock(mutex_);
        const auto found = devices_.find(device.bits);
        if (found == devices_.end()) return;
        closing = std::move(found->second);
        devices_.erase(found);
    }
    // Released here, outside the lock, unless a transfer on another thread still holds it.
}

std::shared_ptr<WinUsbPort::Device> WinUsbPort::find(DeviceHandle device) {
    const std::lock_guard lock(mutex_);
    const auto found = devices_.find(device.bits);
    return found == devices_.end() ? nullptr : found->second;
}

std::uint32_t WinUsbPort::maxPacketSize(DeviceHandle device) {
    const auto found = find(device);
    return found ? found->inMaxPacket : 0;
}

UsbTransfer WinUsbPort::bulkOut(DeviceHandle device, std::span<const std::uint8_t> data,
                                std::uint32_t waitMs) {
    const auto found = find(device);
    if (!found) return {UsbStatus::gone, 0};
    // WinUsb_WritePipe takes a non-const buffer but does not write to it.
    return transfer(*found, true, const_cast<std::uint8_t*>(data.data()), data.size(), waitMs);
}

UsbTransfer WinUsbPort::bulkIn(DeviceHandle device, std::span<std::uint8_t> buffer,
                               std::uint32_t waitMs) {
    const auto found = find(device);
    if (!found) return {UsbStatus::gone, 0};
    return transfer(*found, false, buffer.data(), buffer.size(), waitMs);
}

UsbTransfer WinUsbPort::transfer(Device& device, bool out, std::uint8_t* data, std::size_t size,
                                 std::uint32_t waitMs) {
    if (device.gone) return {UsbStatus::gone, 0};
    if (!std::in_range<ULONG>(size)) return {UsbStatus::failed, 0};
    const std::uint64_t cancelsBefore = device.cancels.load();
    const UniqueHandle event{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    if (!event) return {UsbStatus::failed, 0};
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();

    const WINUSB_INTERFACE_HANDLE usb = device.usb.get();
    const UCHAR pipe = out ? device.outPipe : device.inPipe;
    const auto length = static_cast<ULONG>(size);
    // The count comes from the completion; WinUSB wants no count variable with an OVERLAPPED.
    const BOOL issued = out ? api_.writePipe(usb, pipe, data, length, nullptr, &overlapped)
                            : api_.readPipe(usb, pipe, data, length, nullptr, &overlapped);
    UsbStatus status = UsbStatus::done;
    DWORD count = 0;
    if (!issued && ::GetLastError() != ERROR_IO_PENDING) {
        // Turned away: the event is never set, so there is nothing to wait for.
        status = usbStatusOfError(::GetLastError());
    } else {
        ::WaitForSingleObject(event.get(), waitMs);
        if (!api_.getOverlappedResult(usb, &overlapped, &count, FALSE)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_INCOMPLETE) {
                // Still outstanding at its wait time: WinUSB would write into the caller's
                // buffer and set the event after both are gone. Abort the pipe and await the
                // completion; a transfer that completed in the meantime keeps its data.
                api_.abortPipe(usb, pipe);
                if (!api_.getOverlappedResult(usb, &overlapped, &count, TRUE)) {
                    const DWORD ended = ::GetLastError();
                    status = ended == ERROR_OPERATION_ABORTED ? UsbStatus::timedOut
                                                              : usbStatusOfError(ended);
                }
            } else if (error == ERROR_OPERATION_ABORTED) {
                // Not this call's abort: cancel(), or the I/O manager ending it as the phone
                // was pulled out. A cut is known without asking the device, which a phone that
                // answers nothing would keep waiting for its control request's time; otherwise
                // only the device can tell.
                std::array<UCHAR, 2> halt{};
                status = device.cancels.load() != cancelsBefore || answers(device, pipe, halt)
                             ? UsbStatus::failed
                             : UsbStatus::gone;
            } else {
                status = usbStatusOfError(error);
            }
        }
    }
    if (status == UsbStatus::stalled) status = stallOrGone(device, pipe);
    if (status == UsbStatus::gone) device.gone = true;
    return {status, static_cast<std::uint32_t>(std::min<std::size_t>(count, size))};
}

bool WinUsbPort::answers(Device& device, UCHAR pipe, std::array<UCHAR, 2>& status) {
    // GET_STATUS to the endpoint: two bytes, bit 0 set while it is halted. A device that was
    // pulled out answers no control request.
    WINUSB_SETUP_PACKET setup{};
    setup.RequestType = 0x82;  // device to host, standard, endpoint
    setup.Request = 0x00;      // GET_STATUS
    setup.Index = pipe;
    setup.Length = 2;
    ULONG length = 0;
    return api_.controlTransfer(device.usb.get(), setup, status.data(), 2, &length, nullptr) &&
           length == 2;
}

UsbStatus WinUsbPort::stallOrGone(Device& device, UCHAR pipe) {
    // One that answers is there and only stalled.
    std::array<UCHAR, 2> halt{};
    if (!answers(device, pipe, halt)) return UsbStatus::gone;
    // Halted until the host clears it, and the next command would fail too. AUTO_CLEAR_STALL
    // has cleared an IN pipe already; one it hasn't, and an OUT pipe, are reset here.
    if ((halt[0] & 0x01) != 0) api_.resetPipe(device.usb.get(), pipe);
    return UsbStatus::stalled;
}

// One read of a queue: its buffer, its event and the OVERLAPPED record WinUSB completes, which
// must not move while the read is outstanding.
struct QueuedRead {
    std::vector<std::uint8_t> buffer;
    UniqueHandle event{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED overlapped{};
};

class WinUsbPort::InQueue final : public UsbInQueue {
public:
    InQueue(WinUsbPort& port, std::shared_ptr<Device> device)
        : port_(port), api_(port.api_), device_(std::move(device)) {}
    InQueue(const InQueue&) = delete;
    InQueue& operator=(const InQueue&) = delete;
    ~InQueue() override {
        if (reads_.empty()) return;
        // Ends every read outstanding on the pipe (this queue's: one command at a time uses a
        // device), then waits for each, so WinUSB writes into none of the buffers once freed.
        api_.abortPipe(device_->usb.get(), device_->inPipe);
        for (const std::unique_ptr<QueuedRead>& read : reads_) {
            DWORD count = 0;
            api_.getOverlappedResult(device_->usb.get(), &read->overlapped, &count, TRUE);
        }
    }

    bool submit(std::uint32_t size) override {
        if (device_->gone || !std::in_range<ULONG>(size)) return false;
        std::unique_ptr<QueuedRead> read = spareRead();
        if (!read || !read->event) return false;
        read->buffer.resize(size);
        read->overlapped = OVERLAPPED{};
        read->overlapped.hEvent = read->event.get();
        ::ResetEvent(read->event.get());
        if (!api_.readPipe(device_->usb.get(), device_->inPipe, read->buffer.data(), size, nullptr,
                           &read->overlapped) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            // Turned away: nothing is outstanding, and the event will never be set.
            if (usbStatusOfError(::GetLastError()) == UsbStatus::gone) device_->gone = true;
            spare_ = std::move(read);
            return false;
        }
        reads_.push_back(std::move(read));
        return true;
    }

    UsbReaped reap(std::uint32_t waitMs) override {
        if (reads_.empty()) return {{UsbStatus::failed, 0}, {}};
        QueuedRead& read = *reads_.front();
        ::WaitForSingleObject(read.event.get(), waitMs);
        DWORD count = 0;
        UsbStatus status = UsbStatus::done;
        if (!api_.getOverlappedResult(device_->usb.get(), &read.overlapped, &count, FALSE)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_INCOMPLETE) return {{UsbStatus::timedOut, 0}, {}};
            status = usbStatusOfError(error);
            if (status == UsbStatus::stalled) status = port_.stallOrGone(*device_, device_->inPipe);
            if (status == UsbStatus::gone) device_->gone = true;
        }
        // The read ended: its bytes stay readable in `reaped_` until the next call.
        reaped_ = std::move(reads_.front());
        reads_.pop_front();
        const std::size_t length = std::min<std::size_t>(count, reaped_->buffer.size());
        return {{status, static_cast<std::uint32_t>(length)},
                std::span(reaped_->buffer).first(length)};
    }

private:
    // A read whose event and buffer are made already, from the last one given back.
    std::unique_ptr<QueuedRead> spareRead() {
        if (spare_) return std::move(spare_);
        if (reaped_) return std::move(reaped_);
        return std::make_unique<QueuedRead>();
    }

    WinUsbPort& port_;
    const WinUsbApi& api_;
    std::shared_ptr<Device> device_;
    std::deque<std::unique_ptr<QueuedRead>> reads_;
    std::unique_ptr<QueuedRead> reaped_;
    std::unique_ptr<QueuedRead> spare_;
};

std::unique_ptr<UsbInQueue> WinUsbPort::openInQueue(DeviceHandle device) {
    std::shared_ptr<Device> found = find(device);
    if (!found) return nullptr;
    return std::make_unique<InQueue>(*this, std::move(found));
}

UsbTransfer WinUsbPort::stringDescriptor(DeviceHandle device, UsbString which,
                                         std::span<std::uint8_t> buffer) {
    const auto found = find(device);
    if (!found || found->gone) return {UsbStatus::gone, 0};
    const UCHAR index =
        which == UsbString::manufacturer ? found->manufacturerIndex : found->productIndex;
    if (index == 0 || !found->language) return {UsbStatus::failed, 0};
    const auto size = static_cast<ULONG>(std::min<std::size_t>(buffer.size(), kDescriptorMax));
    ULONG length = 0;
    if (!api_.getDescriptor(found->usb.get(), USB_STRING_DESCRIPTOR_TYPE, index, *found->language,
                            buffer.data(), size, &length)) {
        const UsbStatus status = usbStatusOfError(::GetLastError());
        if (status == UsbStatus::gone) found->gone = true;
        return {status, 0};
    }
    return {UsbStatus::done, std::min<ULONG>(length, size)};
}

UsbStatus WinUsbPort::resetPipe(DeviceHandle device, bool in) {
    const auto found = find(device);
    if (!found || found->gone) return UsbStatus::gone;
    if (api_.resetPipe(found->usb.get(), in ? found->inPipe : found->outPipe)) {
        return UsbStatus::done;
    }
    const UsbStatus status = usbStatusOfError(::GetLastError());
    if (status == UsbStatus::gone) found->gone = true;
    return status == UsbStatus::gone ? status : UsbStatus::failed;
}

void WinUsbPort::cancel(DeviceHandle device) {
    const auto found = find(device);
    if (!found) return;
    // Every transfer outstanding on either pipe completes with ERROR_OPERATION_ABORTED.
    ++found->cancels;
    api_.abortPipe(found->usb.get(), found->outPipe);
    api_.abortPipe(found->usb.get(), found->inPipe);
}

bool WinUsbPort::waitForRemoval(const std::string& location, StopToken stop) {
    // A bus that can't be read for a moment is no removal: only a listing without the phone is.
    const auto attached = [&] {
        const auto phones = enumeratePhones();
        return !phones || std::any_of(phones->begin(), phones->end(),
                                      [&](const Listed& phone) { return phone.named(location); });
    };
    // The pause between two looks at the bus is a wait on an event a stop sets, so a stop ends
    // it at once. Without an event the pause is a plain sleep and a stop waits for its end.
    const UniqueHandle stopped{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    const StopWake wake(stop, [&stopped] {
        if (stopped) ::SetEvent(stopped.get());
    });
    if (stop.stopRequested() || !attached()) return false;
    do {
        if (!stopped) {
            ::Sleep(kUsbRemovalPollMs);
        } else if (::WaitForSingleObject(stopped.get(), kUsbRemovalPollMs) == WAIT_OBJECT_0) {
            return false;
        }
        if (stop.stopRequested()) return false;
    } while (attached());
    return true;
}

}  // namespace norvale
