// The interface enumeration seam over SetupAPI and CreateFileA.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <map>
#include <mutex>
#include <utility>

#include "platform/InterfaceEnumerator.h"

namespace norvale {

// The device interface class under which the flash-mode driver exposes a phone.
inline constexpr GUID kFlashInterfaceClass = {
    0x4e1e1e15, 0x52d7, 0x11d4, {0x85, 0x2d, 0x00, 0x10, 0x5a, 0xa6, 0xf8, 0x0b}};

// SP_DEVICE_INTERFACE_DATA does not fit an InterfaceRef, so member() keeps the record here,
// keyed by set and index, until the set is closed. The monitor and the UI thread each enumerate
// with their own sets; the lock only guards the table itself.
class Win32InterfaceEnumerator final : public InterfaceEnumerator {
public:
    DeviceSet openSet() override;
    std::optional<InterfaceRef> member(DeviceSet set, std::uint32_t index) override;
    DetailSizeResult detailSize(DeviceSet set, const InterfaceRef& member) override;
    std::optional<std::string> devicePath(DeviceSet set, const InterfaceRef& member,
                                          std::uint32_t requiredSize) override;
    std::string location(DeviceSet set, const InterfaceRef& member) override;
    void closeSet(DeviceSet set) override;
    DeviceHandle open(const std::string& devicePath) override;
    void close(DeviceHandle device) override;

private:
    std::optional<SP_DEVICE_INTERFACE_DATA> storedMember(DeviceSet set, const InterfaceRef& member);

    std::mutex mutex_;
    std::map<std::pair<std::uintptr_t, std::uint32_t>, SP_DEVICE_INTERFACE_DATA> members_;
};

}  // namespace norvale
