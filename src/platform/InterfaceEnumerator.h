// Seam: the SetupAPI steps that enumerate the flash-mode device interfaces and open one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/DeviceHandle.h"

namespace norvale {

// The device information set of one enumeration (an HDEVINFO on Windows).
struct DeviceSet {
    std::uintptr_t bits = ~std::uintptr_t{0};
    constexpr bool valid() const { return bits != ~std::uintptr_t{0}; }
    friend constexpr bool operator==(DeviceSet, DeviceSet) = default;
};

// One member of the set (SP_DEVICE_INTERFACE_DATA); opaque above the seam.
struct InterfaceRef {
    std::uintptr_t bits = 0;
    std::uint32_t index = 0;
};

struct DetailSizeResult {
    // True only in the one useful outcome of a size query: the call failed with
    // ERROR_INSUFFICIENT_BUFFER and `requiredSize` holds the size of the detail record.
    bool sizeKnown = false;
    std::uint32_t lastError = 0;  // GetLastError() after the query, for callers that log it
    std::uint32_t requiredSize = 0;
};

// Windows error code meaning "the size query told us the size"; it has no other role here.
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;

// Contract, step by step as SetupAPI works (every call is independent of the others' threads):
// - openSet(): the present interfaces of the flash-mode class
//   ({4e1e1e15-52d7-11d4-852d-00105aa6f80b}, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE); an invalid
//   DeviceSet on failure. A valid set must be given back to closeSet() exactly once.
// - member(): the member with that index, or nullopt when there is none.
// - detailSize(): the size query (no buffer).
// - devicePath(): fetches the detail record at `requiredSize` bytes (the caller has checked that
//   memory for it can be had) and returns its DevicePath, or nullopt when the fetch fails. The
//   binding allocates and frees the record itself.
// - location(): the socket the device behind the member is plugged into, named as the USB road
//   names it ("hub<N>-port<M>" on Windows, from the device's location information), or empty
//   when the device names none; the caller then names it by its path.
// - open(): opens the path for reading and writing without sharing, OPEN_EXISTING, for
//   overlapped I/O; kInvalidDevice on failure (another program holding the device open among
//   them). Without sharing no second program can talk to a phone in the middle of a write; with
//   overlapped I/O a request the driver never completes can be cut (DriverPort::cancel). A
//   valid handle must be given back to close() exactly once, by whoever owns it then.
class InterfaceEnumerator : public virtual DeviceCloser {
public:
    virtual ~InterfaceEnumerator() = default;
    virtual DeviceSet openSet() = 0;
    virtual std::optional<InterfaceRef> member(DeviceSet set, std::uint32_t index) = 0;
    virtual DetailSizeResult detailSize(DeviceSet set, const InterfaceRef& member) = 0;
    virtual std::optional<std::string> devicePath(DeviceSet set, const InterfaceRef& member,
                                                  std::uint32_t requiredSize) = 0;
    virtual std::string location(DeviceSet set, const InterfaceRef& member) = 0;
    virtual void closeSet(DeviceSet set) = 0;
    virtual DeviceHandle open(const std::string& devicePath) = 0;
    void close(DeviceHandle device) override = 0;
};

}  // namespace norvale
