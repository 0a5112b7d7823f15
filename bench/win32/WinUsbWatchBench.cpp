// 64 idle phones watched one wait each, then all by one watch, through the WinUSB binding.
#include "WinUsbWatchBench.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "WatchCost.h"
#include "platform/StopSignal.h"
#include "platform/win32/WinUsbPort.h"
#include "presence/PhoneWatcher.h"
#include "sim/SimPlatform.h"

namespace norvale::bench {
namespace {

constexpr unsigned kPhones = 64;
constexpr auto kIdle = std::chrono::seconds(5);
// The station's pace: a scan for arrivals once a second.
constexpr auto kScanEvery = std::chrono::seconds(1);

// The bus the stand-ins serve: a mouse and a hub of the USB device class, then the phones on the
// hub's ports, each with its path, socket and instance id.
struct Member {
    std::string path;
    std::string service;
    std::string location;
    std::string instance;
};
std::vector<Member> members;
std::atomic<std::uint64_t> enumerations{0};
std::atomic<int> registrations{0};

void attachBus() {
    members = {{"\\\\?\\usb#vid_046d&pid_c52b#6&2a&0&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
                "HidUsb", "Port_#0001.Hub_#0002", "USB\\VID_046D&PID_C52B\\6&2A&0&1"},
               {"\\\\?\\usb#vid_05e3&pid_0608#5&1c&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
                "usbhub", "Port_#0002.Hub_#0002", "USB\\VID_05E3&PID_0608\\5&1C&0&2"}};
    for (unsigned port = 1; port <= kPhones; ++port) {
        char path[96];
        char location[32];
        char instance[48];
        std::snprintf(path, sizeof path,
                      "\\\\?\\usb#vid_22b8&pid_4903#sn%04u#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
                      port);
        std::snprintf(location, sizeof location, "Port_#%04u.Hub_#0003", port);
        std::snprintf(instance, sizeof instance, "USB\\VID_22B8&PID_4903\\SN%04u", port);
        members.push_back({path, "WinUSB", location, instance});
    }
}

BOOL failWith(DWORD error) {
    ::SetLastError(error);
    return FALSE;
}

// A set is a look at the bus: each one also pays for the system's own listing of the class
// (Wine's, run under it), so an enumeration costs at least what a system call for the class
// does; the phones then come from the stand-in's list. What a real Windows's SetupAPI costs on
// top (the registry of every device, the cbSize and property calls in the kernel's driver
// stack) is not counted: the figures are a lower bound of the old cost.
HDEVINFO WINAPI getClassDevs(const GUID* guid, PCSTR enumerator, HWND window, DWORD flags) {
    ++enumerations;
    const HDEVINFO system = ::SetupDiGetClassDevsA(guid, enumerator, window, flags);
    if (system != INVALID_HANDLE_VALUE) {
        SP_DEVICE_INTERFACE_DATA member{};
        member.cbSize = sizeof member;
        for (DWORD i = 0; ::SetupDiEnumDeviceInterfaces(system, nullptr, guid, i, &member); ++i) {
        }
        ::SetupDiDestroyDeviceInfoList(system);
    }
    return reinterpret_cast<HDEVINFO>(new std::vector<Member>(members));
}

const std::vector<Member>& setOf(HDEVINFO set) {
    return *reinterpret_cast<const std::vector<Member>*>(set);
}

BOOL WINAPI destroySet(HDEVINFO set) {
    delete reinterpret_cast<std::vector<Member>*>(set);
    return TRUE;
}

BOOL WINAPI enumInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                           PSP_DEVICE_INTERFACE_DATA member) {
    if (member->cbSize != sizeof *member) return failWith(ERROR_INVALID_USER_BUFFER);
    if (index >= setOf(set).size()) return failWith(ERROR_NO_MORE_ITEMS);
    member->Reserved = index;
    return TRUE;
}

BOOL WINAPI interfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA member,
                            PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                            PSP_DEVINFO_DATA device) {
    const std::string& path = setOf(set).at(member->Reserved).path;
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

BOOL WINAPI deviceProperty(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property, PDWORD type,
                           PBYTE buffer, DWORD size, PDWORD required) {
    const Member& member = setOf(set).at(device->Reserved);
    std::string text;
    DWORD kind = REG_SZ;
    DWORD state = 0;  // CM_INSTALL_STATE_INSTALLED
    const BYTE* value = nullptr;
    DWORD length = 0;
    if (property == SPDRP_SERVICE || property == SPDRP_LOCATION_INFORMATION) {
        text = property == SPDRP_SERVICE ? member.service : member.location;
        value = reinterpret_cast<const BYTE*>(text.c_str());
        length = static_cast<DWORD>(text.size() + 1);
    } else if (property == SPDRP_INSTALL_STATE) {
        kind = REG_DWORD;
        value = reinterpret_cast<const BYTE*>(&state);
        length = sizeof state;
    } else {
        return failWith(ERROR_INVALID_DATA);
    }
    if (required != nullptr) *required = length;
    if (type != nullptr) *type = kind;
    if (size < length) return failWith(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, value, length);
    return TRUE;
}

BOOL WINAPI instanceId(HDEVINFO set, PSP_DEVINFO_DATA device, PSTR id, DWORD size,
                       PDWORD required) {
    const std::string& value = setOf(set).at(device->Reserved).instance;
    if (required != nullptr) *required = static_cast<DWORD>(value.size() + 1);
    if (size < value.size() + 1) return failWith(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(id, value.c_str(), value.size() + 1);
    return TRUE;
}

// Idle phones: a registration that is made and never told of a change.
CONFIGRET WINAPI registerNotification(PCM_NOTIFY_FILTER filter, PVOID, PCM_NOTIFY_CALLBACK,
                                      PHCMNOTIFICATION handle) {
    if (filter->cbSize != sizeof *filter) return CR_INVALID_STRUCTURE_SIZE;
    ++registrations;
    *handle = reinterpret_cast<HCMNOTIFICATION>(0xC0F1);
    return CR_SUCCESS;
}

CONFIGRET WINAPI unregisterNotification(HCMNOTIFICATION) {
    --registrations;
    return CR_SUCCESS;
}

WinUsbApi standIns(bool notices) {
    WinUsbApi api;
    api.getClassDevs = getClassDevs;
    api.enumDeviceInterfaces = enumInterfaces;
    api.getInterfaceDetail = interfaceDetail;
    api.destroyDeviceInfoList = destroySet;
    api.getDeviceProperty = deviceProperty;
    api.getDeviceInstanceId = instanceId;
    api.registerNotification = notices ? registerNotification : nullptr;
    api.unregisterNotification = notices ? unregisterNotification : nullptr;
    return api;
}

// The station's watcher over `port`: its first scan (every arrival) made before the measure.
WatchCost watchedByOne(WinUsbPort& port) {
    SimPlatform sim(SimPlatform::Phone::none);
    Platform platform{sim.driver, sim.driver,  sim.driver, port,
                      sim.files,  sim.chooser, sim.clock,  sim.threads};
    PhoneWatcher watcher(
        platform, [](const WatchedPhone&) { return std::shared_ptr<SessionState>(); },
        [](const WatchedPhone&) {});
    watcher.scan();
    if (watcher.watching() != kPhones) throw std::runtime_error("the watcher missed phones");
    const WatchCost cost = measureWatch(enumerations, [&] {
        const auto end = std::chrono::steady_clock::now() + kIdle;
        while (std::chrono::steady_clock::now() < end) {
            watcher.scan();
            std::this_thread::sleep_for(kScanEvery);
        }
    });
    if (watcher.watching() != kPhones) throw std::runtime_error("an idle phone was taken for gone");
    return cost;
}

}  // namespace

void benchWinUsbWatch(ResultTable& table) {
    attachBus();
    WinUsbPort port(standIns(true));
    if (port.listPhones().size() != kPhones) throw std::runtime_error("the phones are not listed");

    // Before: each phone's own removal wait (a SetupDi enumeration every 250 ms each), and a
    // scan for arrivals once a second.
    const WatchCost before = measureWatch(enumerations, [&] {
        StopSource stop;
        std::vector<std::thread> waits;
        for (const std::string& location : port.listPhones()) {
            waits.emplace_back(
                [&port, location, token = stop.token()] { port.waitForRemoval(location, token); });
        }
        const auto end = std::chrono::steady_clock::now() + kIdle;
        while (std::chrono::steady_clock::now() < end) {
            port.listPhones();
            std::this_thread::sleep_for(kScanEvery);
        }
        stop.requestStop();
        for (std::thread& wait : waits) wait.join();
    });
    const WatchCost after = watchedByOne(port);
    if (registrations.load() != 1) throw std::runtime_error("the watch made no registration");
    WinUsbPort timed(standIns(false));
    const WatchCost fallback = watchedByOne(timed);

    const std::string who = std::to_string(kPhones) + " idle phones (WinUSB, stand-in SetupAPI)";
    table.add({"watch-win32",
               who + ": processor time, one wait per phone / one watch / one watch without notices",
               formatFixed(before.cpuPercent, 2) + " % / " + formatFixed(after.cpuPercent, 2) +
                   " % / " + formatFixed(fallback.cpuPercent, 2) + " % of a core",
               "< 1 %", after.cpuPercent < 1.0});
    table.add({"watch-win32", who + ": bus enumerations a second, the same three",
               formatFixed(before.looksPerSecond, 1) + " / " +
                   formatFixed(after.looksPerSecond, 1) + " / " +
                   formatFixed(fallback.looksPerSecond, 1),
               "", std::nullopt});
}

}  // namespace norvale::bench
