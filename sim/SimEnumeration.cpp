// The simulator's enumeration of driver interfaces (the SetupAPI steps), the opening of a phone on
// either road and the removal watch on an interface's registry key.
#include "SimDriver.h"

#include <algorithm>

#include "protocol/DriverPhoneLink.h"

namespace norvale {
namespace {

constexpr std::string_view kClassKey = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\"
                                       "{4e1e1e15-52d7-11d4-852d-00105aa6f80b}\\";
// The fixed part of SP_DEVICE_INTERFACE_DETAIL_DATA_A in the 32-bit layout.
constexpr std::uint32_t kDetailHeaderSize = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;

// Paths and registry keys compare without regard to ASCII case, as Windows compares them.
bool sameName(const std::string& a, const std::string& b) {
    const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
               return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string SimDriver::registryKeyFor(const std::string& devicePath) {
    // The system files the interface under its path with "\\?\" turned into "##?#".
    std::string key{kClassKey};
    const std::size_t pathStart = key.size();
    key += devicePath;
    key += "\\#\\Control";
    for (std::size_t offset : {0u, 1u, 3u}) {
        if (offset < devicePath.size()) key[pathStart + offset] = '#';
    }
    return key;
}

DeviceSet SimDriver::openSet() {
    std::lock_guard lock(mutex_);
    attachDueLocked();
    if (openSetFails_) return {};
    ++counters_.setsOpened;
    // Like SetupAPI, the set is a snapshot: a phone attached later is not in it.
    std::vector<std::shared_ptr<Interface>> members;
    for (const auto& iface : interfaces_) {
        if (iface->attached && iface->options.road == Road::driver) members.push_back(iface);
    }
    const std::uintptr_t bits = nextSet_;
    nextSet_ += 8;
    sets_.emplace(bits, std::move(members));
    return {bits};
}

std::optional<InterfaceRef> SimDriver::member(DeviceSet set, std::uint32_t index) {
    std::lock_guard lock(mutex_);
    ++counters_.memberCalls;
    const auto found = sets_.find(set.bits);
    if (found == sets_.end()) {
        ++counters_.unknownSetCalls;
        return std::nullopt;
    }
    if (index >= found->second.size()) return std::nullopt;
    return InterfaceRef{found->second[index]->id, index};
}

SimDriver::Interface* SimDriver::setMember(DeviceSet set, const InterfaceRef& member) {
    const auto found = sets_.find(set.bits);
    if (found == sets_.end()) {
        ++counters_.unknownSetCalls;
        return nullptr;
    }
    if (member.index >= found->second.size()) return nullptr;
    Interface* iface = found->second[member.index].get();
    return iface->id == member.bits ? iface : nullptr;
}

DetailSizeResult SimDriver::detailSize(DeviceSet set, const InterfaceRef& member) {
    std::lock_guard lock(mutex_);
    ++counters_.detailSizeCalls;
    const Interface* iface = setMember(set, member);
    if (!iface) return {false, kErrorInvalidHandle, 0};
    if (iface->options.sizeQueryError != 0) return {false, iface->options.sizeQueryError, 0};
    const auto size = kDetailHeaderSize + iface->options.devicePath.size() + 1;
    return {true, kErrorInsufficientBuffer, static_cast<std::uint32_t>(size)};
}

std::optional<std::string> SimDriver::devicePath(DeviceSet set, const InterfaceRef& member,
                                                 std::uint32_t requiredSize) {
    std::lock_guard lock(mutex_);
    ++counters_.devicePathCalls;
    const Interface* iface = setMember(set, member);
    if (!iface || iface->options.failDetailFetch) return std::nullopt;
    if (requiredSize < kDetailHeaderSize + iface->options.devicePath.size() + 1) {
        return std::nullopt;
    }
    ++counters_.pathsDelivered;
    return iface->options.devicePath;
}

std::string SimDriver::location(DeviceSet set, const InterfaceRef& member) {
    std::lock_guard lock(mutex_);
    const Interface* iface = setMember(set, member);
    return iface ? iface->options.location : std::string{};
}

void SimDriver::closeSet(DeviceSet set) {
    std::lock_guard lock(mutex_);
    if (sets_.erase(set.bits) == 0) ++counters_.badSetCloses;
}

DeviceHandle SimDriver::open(const std::string& devicePath) {
    std::lock_guard lock(mutex_);
    ++counters_.openCalls;
    for (const auto& iface : interfaces_) {
        if (!iface->attached || !sameName(iface->options.devicePath, devicePath)) continue;
        ++iface->openAttempts;
        if (iface->options.failOpen || iface->options.denyOpen) return kInvalidDevice;
        const DeviceHandle handle{nextHandle_};
        nextHandle_ += 4;
        handles_.emplace(handle.bits, iface);
        return handle;
    }
    return kInvalidDevice;
}

void SimDriver::close(DeviceHandle device) {
    std::lock_guard lock(mutex_);
    if (!device.valid() || handles_.erase(device.bits) == 0) ++counters_.badHandleCloses;
    cancels_.erase(device.bits);
}

bool SimDriver::waitForChange(const std::string& keyPath, StopToken stop) {
    return waitUntilDetached(
        [&](const Interface& iface) {
            return iface.options.road == Road::driver && sameName(iface.registryKey, keyPath);
        },
        stop);
}

}  // namespace norvale
