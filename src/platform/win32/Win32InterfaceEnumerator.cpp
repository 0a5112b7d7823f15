// SetupAPI enumeration of the flash-mode interfaces and the open of one by its device path.
#include "platform/win32/Win32InterfaceEnumerator.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "platform/win32/UsbSocketName.h"
#include "platform/win32/Win32HandleBits.h"
#include "platform/win32/Win32Handles.h"

namespace norvale {

// SetupAPI checks cbSize against the layout of the program's own architecture: 28 and 5 for a
// 32-bit program, 32 and 8 for a 64-bit one. Proven here for whichever this build targets, and
// set from sizeof below, never from a literal.
#if defined(_WIN64)
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
#endif
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == sizeof(DWORD));

DeviceSet Win32InterfaceEnumerator::openSet() {
    return toDeviceSet(::SetupDiGetClassDevsA(&kFlashInterfaceClass, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
}

std::optional<InterfaceRef> Win32InterfaceEnumerator::member(DeviceSet set, std::uint32_t index) {
    if (!set.valid()) return std::nullopt;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    if (!::SetupDiEnumDeviceInterfaces(toDevInfo(set), nullptr, &kFlashInterfaceClass, index,
                                       &data)) {
        return std::nullopt;
    }
    const std::lock_guard lock(mutex_);
    members_[{set.bits, index}] = data;
    return InterfaceRef{set.bits, index};
}

std::optional<SP_DEVICE_INTERFACE_DATA> Win32InterfaceEnumerator::storedMember(
    DeviceSet set, const InterfaceRef& member) {
    const std::lock_guard lock(mutex_);
    const auto found = members_.find({set.bits, member.index});
    if (found == members_.end() || member.bits != set.bits) return std::nullopt;
    return found->second;
}

DetailSizeResult Win32InterfaceEnumerator::detailSize(DeviceSet set, const InterfaceRef& member) {
    auto data = storedMember(set, member);
    if (!data) return {false, ERROR_INVALID_PARAMETER, 0};
    DWORD required = 0;
    const BOOL ok =
        ::SetupDiGetDeviceInterfaceDetailA(toDevInfo(set), &*data, nullptr, 0, &required, nullptr);
    const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    return {!ok && error == ERROR_INSUFFICIENT_BUFFER, error, required};
}

std::optional<std::string> Win32InterfaceEnumerator::devicePath(DeviceSet set,
                                                                const InterfaceRef& member,
                                                                std::uint32_t requiredSize) {
    auto data = storedMember(set, member);
    // A record smaller than its fixed part has no room for cbSize, let alone a path.
    if (!data || requiredSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return std::nullopt;

    // Zero-filled, so a path the call leaves short still ends within the record.
    const std::unique_ptr<char[]> record(new (std::nothrow) char[requiredSize]());
    if (!record) return std::nullopt;
    const DWORD cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    std::memcpy(record.get(), &cbSize, sizeof(cbSize));
    auto* const detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(record.get());
    if (!::SetupDiGetDeviceInterfaceDetailA(toDevInfo(set), &*data, detail, requiredSize, nullptr,
                                            nullptr)) {
        return std::nullopt;
    }
    const char* const path = record.get() + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const std::size_t room = requiredSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    return std::string(path, strnlen(path, room));
}

std::string Win32InterfaceEnumerator::location(DeviceSet set, const InterfaceRef& member) {
    auto data = storedMember(set, member);
    if (!data) return {};
    // The device behind the interface comes with its detail record.
    DWORD required = 0;
    ::SetupDiGetDeviceInterfaceDetailA(toDevInfo(set), &*data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return {};
    const std::unique_ptr<char[]> record(new (std::nothrow) char[required]());
    if (!record) return {};
    const DWORD cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    std::memcpy(record.get(), &cbSize, sizeof(cbSize));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!::SetupDiGetDeviceInterfaceDetailA(
            toDevInfo(set), &*data,
            reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(record.get()), required, nullptr,
            &device)) {
        return {};
    }
    std::array<char, 256> text{};
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyA(toDevInfo(set), &device, SPDRP_LOCATION_INFORMATION,
                                             &type, reinterpret_cast<PBYTE>(text.data()),
                                             static_cast<DWORD>(text.size() - 1), nullptr) ||
        type != REG_SZ) {
        return {};
    }
    return usbSocketName(std::string_view(text.data(), strnlen(text.data(), text.size())));
}

void Win32InterfaceEnumerator::closeSet(DeviceSet set) {
    {
        const std::lock_guard lock(mutex_);
        // The set's handle value may come back for a later set: its members must not.
        std::erase_if(members_, [&](const auto& entry) { return entry.first.first == set.bits; });
    }
    UniqueDevInfo owner{toDevInfo(set)};
}

DeviceHandle Win32InterfaceEnumerator::open(const std::string& devicePath) {
    return toDeviceHandle(::CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
}

void Win32InterfaceEnumerator::close(DeviceHandle device) { UniqueFile owner{toHandle(device)}; }

}  // namespace norvale
