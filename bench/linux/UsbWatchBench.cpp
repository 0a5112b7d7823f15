// 64 idle phones watched one wait each, then all by one watch, on a bus umockdev emulates.
#include "UsbWatchBench.h"

#include <umockdev.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "WatchCost.h"
#include "platform/StopSignal.h"
#include "platform/libusb/LibusbPort.h"
#include "presence/PhoneWatcher.h"
#include "sim/SimPlatform.h"

namespace norvale::bench {
namespace {

constexpr unsigned kPhones = 64;
constexpr auto kIdle = std::chrono::seconds(5);
// The station's pace: a scan for arrivals once a second.
constexpr auto kScanEvery = std::chrono::seconds(1);

// Every look at the bus starts a libusb context: counting the starts counts the looks.
std::atomic<std::uint64_t> looks{0};
int countedInit(libusb_context** context) {
    ++looks;
    return libusb_init(context);
}

// sysfs as the kernel writes it for a root hub, a hub on its port 1 and `count` phones on that
// hub's ports from 1, each with its node and descriptors (22B8:4903, one bulk pair).
std::string testbedRecord(unsigned count) {
    const auto device = [](const std::string& path, unsigned number, const std::string& hex) {
        std::string devnum = std::to_string(number);
        devnum.insert(0, 3 - devnum.size(), '0');
        const std::string node = "bus/usb/001/" + devnum;
        return "P: " + path + "\nN: " + node +
               "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=001\nE: DEVNUM=" + devnum +
               "\nE: DEVNAME=/dev/" + node +
               "\nA: busnum=1\\n\nA: devnum=" + std::to_string(number) +
               "\\n\nA: speed=12\\n\nA: bConfigurationValue=1\\n\nH: descriptors=" + hex + "\n\n";
    };
    const auto hex = [](std::initializer_list<unsigned> bytes) {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string text;
        for (const unsigned byte : bytes) {
            text += kDigits[(byte >> 4) & 0xF];
            text += kDigits[byte & 0xF];
        }
        return text;
    };
    const std::string hub = hex({0x12, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 0x40, 0x6b, 0x1d, 0x02,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x09, 0x02, 0x19, 0x00,
                                 0x01, 0x01, 0x00, 0xe0, 0x00, 0x09, 0x04, 0x00, 0x00, 0x01, 0x09,
                                 0x00, 0x00, 0x00, 0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x0c});
    const std::string phone =
        hex({0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0xb8, 0x22, 0x03, 0x49, 0x00,
             0x01, 0x01, 0x02, 0x00, 0x01, 0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80,
             0xfa, 0x09, 0x04, 0x00, 0x00, 0x02, 0xff, 0xff, 0xff, 0x00, 0x07, 0x05, 0x02,
             0x02, 0x40, 0x00, 0x00, 0x07, 0x05, 0x83, 0x02, 0x40, 0x00, 0x00});
    std::string record = device("/devices/usb1", 1, hub) + device("/devices/usb1/1-1", 2, hub);
    for (unsigned port = 1; port <= count; ++port) {
        record += device("/devices/usb1/1-1/1-1." + std::to_string(port), port + 2, phone);
    }
    return record;
}

}  // namespace

void benchUsbWatch(ResultTable& table) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (!preload || std::string_view(preload).find("umockdev-preload") == std::string_view::npos) {
        throw std::runtime_error("the watch part runs under umockdev-wrapper");
    }
    std::unique_ptr<UMockdevTestbed, void (*)(gpointer)> testbed(umockdev_testbed_new(),
                                                                 g_object_unref);
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed.get(), testbedRecord(kPhones).c_str(), &error)) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("umockdev: " + message);
    }
    LibusbPort port(RemovalNotice::hotplug, &countedInit);
    if (port.listPhones().size() != kPhones) throw std::runtime_error("the phones are not listed");
    SimPlatform sim(SimPlatform::Phone::none);
    Platform platform{sim.driver, sim.driver,  sim.driver, port,
                      sim.files,  sim.chooser, sim.clock,  sim.threads};

    // Before: each phone's own removal wait (a look at the bus every 250 ms each), and a scan for
    // arrivals once a second.
    const WatchCost before = measureWatch(looks, [&] {
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

    // After: the station's watcher, its first scan (every arrival) made before the measure.
    PhoneWatcher watcher(
        platform, [](const WatchedPhone&) { return std::shared_ptr<SessionState>(); },
        [](const WatchedPhone&) {});
    watcher.scan();
    if (watcher.watching() != kPhones) throw std::runtime_error("the watcher missed phones");
    const WatchCost after = measureWatch(looks, [&] {
        const auto end = std::chrono::steady_clock::now() + kIdle;
        while (std::chrono::steady_clock::now() < end) {
            watcher.scan();
            std::this_thread::sleep_for(kScanEvery);
        }
    });
    if (watcher.watching() != kPhones) throw std::runtime_error("an idle phone was taken for gone");

    const std::string who = std::to_string(kPhones) + " idle phones (libusb, umockdev)";
    table.add({"watch", who + ": processor time, one wait per phone / one watch for all",
               formatFixed(before.cpuPercent, 2) + " % / " + formatFixed(after.cpuPercent, 2) +
                   " % of a core",
               "< 1 %", after.cpuPercent < 1.0});
    table.add({"watch", who + ": looks at the bus a second, one wait per phone / one watch",
               formatFixed(before.looksPerSecond, 1) + " / " + formatFixed(after.looksPerSecond, 1),
               "", std::nullopt});
}

}  // namespace norvale::bench
