// Arrival and removal as the UI thread handles them: session fields, log, status, the device.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

#include "integration/PresenceRig.h"
#include "presence/PresenceHandling.h"
#include "presence/UsbPhoneFinder.h"

namespace norvale {
namespace {

using namespace presence_testing;

std::vector<std::string> arrivalEntries(std::string_view boot, std::string_view mode) {
    return {logAt(0, text::kPhoneConnected), statusAt(0, text::kStatusConnected),
            logAt(0, line(text::kBootVersion, boot)), logAt(0, line(text::kMode, mode))};
}

const std::vector<std::string> kRemovalEntries{logAt(0, text::kPhoneDisconnected), logAt(0, "\r\n"),
                                               statusAt(0, text::kStatusDisconnected)};

TEST(PresenceHandling, ArrivalOpensTheFlashInterfaceAndTellsWhatIsAttached) {
    PresenceRig rig;
    rig.folder.put("KESTRIN.ini", "CG1ADR=100A0000");
    rig.state.busy = true;  // a command runs: arrival leaves busy to it
    handleArrival(rig.services);

    auto expected = arrivalEntries("0C60", "FLASH ");
    expected.push_back(logAt(0, line(text::kCg1Start, "100A0000")));
    EXPECT_EQ(rig.view.entries(), expected);
    EXPECT_EQ(rig.screen.statusText(), text::kStatusConnected.str());
    EXPECT_TRUE(rig.state.connected);
    EXPECT_TRUE(rig.state.busy);
    ASSERT_TRUE(rig.state.deviceHandle().valid());
    EXPECT_EQ(rig.sim.driver.counters().liveHandles, 1u);
    // The handle is the phone's: its transfers reach the phone.
    EXPECT_EQ(DriverPhoneLink(rig.sim.driver).queryString(rig.state.deviceHandle(), 2).text,
              "Motorola Flash Interface");
}

TEST(PresenceHandling, ArrivalWithNothingToOpenStoresTheInvalidHandleAndStillLogs) {
    PresenceRig rig(SimPlatform::Phone::none);
    SimInterfaceOptions modem;
    modem.interfaceString = "Motorola Modem";
    rig.sim.driver.attach(modem);
    handleArrival(rig.services);

    EXPECT_EQ(rig.view.entries(), arrivalEntries("", ""));
    EXPECT_TRUE(rig.state.connected);
    ASSERT_NE(rig.state.device.load(), nullptr);
    EXPECT_EQ(rig.state.deviceHandle(), kInvalidDevice);
    EXPECT_EQ(rig.sim.driver.counters().liveHandles, 0u);
}

TEST(PresenceHandling, RemovalClearsConnectedAndClosesTheDevice) {
    PresenceRig rig;
    handleArrival(rig.services);
    rig.view.clear();
    rig.sim.driver.detach(rig.sim.phoneId);
    handleRemoval(rig.services);

    EXPECT_EQ(rig.view.entries(), kRemovalEntries);
    EXPECT_EQ(rig.screen.logText(), text::kPhoneConnected.str() + line(text::kBootVersion, "0C60") +
                                        line(text::kMode, "FLASH ") +
                                        text::kPhoneDisconnected.str() + "\r\n");
    EXPECT_EQ(rig.screen.statusText(), text::kStatusDisconnected.str());
    EXPECT_FALSE(rig.state.connected);
    EXPECT_EQ(rig.state.device.load(), nullptr);
    EXPECT_EQ(rig.sim.driver.counters().liveHandles, 0u);
}

TEST(PresenceHandling, AReplacedHandleIsClosedOnceNoCommandHoldsIt) {
    PresenceRig rig;
    const auto phone = rig.sim.driver.phone(rig.sim.phoneId);
    handleArrival(rig.services);
    const DeviceHandle first = rig.state.deviceHandle();

    // A command took the first connection's device and is still running through a reconnect.
    auto command = std::make_unique<CommandContext>(rig.services);
    rig.sim.driver.detach(rig.sim.phoneId);
    handleRemoval(rig.services);
    rig.sim.driver.attach({}, phone);
    handleArrival(rig.services);

    EXPECT_NE(rig.state.deviceHandle(), first);
    EXPECT_EQ(command->device(), first);
    EXPECT_EQ(rig.sim.driver.counters().liveHandles, 2u);
    command.reset();
    EXPECT_EQ(rig.sim.driver.counters().liveHandles, 1u);

    // Without a command in between, every reconnect leaves just the newest handle open.
    for (int i = 0; i < 3; ++i) {
        rig.sim.driver.detachAll();
        handleRemoval(rig.services);
        rig.sim.driver.attach({}, phone);
        handleArrival(rig.services);
        EXPECT_EQ(rig.sim.driver.counters().liveHandles, 1u);
    }
    EXPECT_EQ(rig.sim.driver.counters().badHandleCloses, 0u);
}

// The simulator's USB port as Windows keeps devices: one pulled out while a handle to it is open
// can't finish leaving, and a phone plugged into the same socket is not listed until the last
// handle to the old one has been closed.
class HandleKeepingPort final : public UsbPort {
public:
    explicit HandleKeepingPort(UsbPort& inner) : inner_(inner) {}

    std::vector<std::string> listPhones() override {
        noteRemovals();
        std::vector<std::string> listed = inner_.listPhones();
        std::erase_if(listed, [&](const std::string& location) { return held(location); });
        return listed;
    }
    std::string serialNumber(const std::string& location) override {
        return inner_.serialNumber(location);
    }
    UsbOpenFailure openFailure(const std::string& location) override {
        return held(location) ? UsbOpenFailure::gone : inner_.openFailure(location);
    }
    DeviceHandle open(const std::string& location) override {
        noteRemovals();
        if (held(location)) return kInvalidDevice;
        const DeviceHandle device = inner_.open(location);
        if (device.valid()) open_[device.bits] = {location, false};
        return device;
    }
    void close(DeviceHandle device) override {
        open_.erase(device.bits);
        inner_.close(device);
    }
    std::uint32_t maxPacketSize(DeviceHandle device) override {
        return inner_.maxPacketSize(device);
    }
    UsbTransfer bulkOut(DeviceHandle device, std::span<const std::uint8_t> data,
                        std::uint32_t waitMs) override {
        return inner_.bulkOut(device, data, waitMs);
    }
    UsbTransfer bulkIn(DeviceHandle device, std::span<std::uint8_t> buffer,
                       std::uint32_t waitMs) override {
        return inner_.bulkIn(device, buffer, waitMs);
    }
    std::unique_ptr<UsbInQueue> openInQueue(DeviceHandle device) override {
        return inner_.openInQueue(device);
    }
    UsbTransfer stringDescriptor(DeviceHandle device, UsbString which,
                                 std::span<std::uint8_t> buffer) override {
        return inner_.stringDescriptor(device, which, buffer);
    }
    UsbStatus resetPipe(DeviceHandle device, bool in) override {
        return inner_.resetPipe(device, in);
    }
    void cancel(DeviceHandle device) override { inner_.cancel(device); }
    bool waitForRemoval(const std::string& location, StopToken stop) override {
        const bool removed = inner_.waitForRemoval(location, stop);
        noteRemovals();
        return removed;
    }

private:
    struct Held {
        std::string location;
        bool removed = false;  // its device was pulled out; the handle keeps it from leaving
    };
    void noteRemovals() {
        const std::vector<std::string> attached = inner_.listPhones();
        for (auto& [bits, handle] : open_) {
            if (std::find(attached.begin(), attached.end(), handle.location) == attached.end()) {
                handle.removed = true;
            }
        }
    }
    bool held(const std::string& location) const {
        return std::any_of(open_.begin(), open_.end(), [&](const auto& entry) {
            return entry.second.removed && entry.second.location == location;
        });
    }

    UsbPort& inner_;
    std::map<std::uintptr_t, Held> open_;
};

// Pulled out and plugged back into its socket, the phone is found again by the next scan: the
// removal let go of its device. A command that still held the old handle delays that until it
// ends, as Windows does.
TEST(PresenceHandling, APhonePluggedBackIntoItsSocketIsFoundOnceTheOldDeviceIsClosed) {
    ScratchFolder folder;
    SimPlatform sim(SimPlatform::Phone::attached, Road::usb);
    HandleKeepingPort port(sim.driver);
    Platform platform{sim.driver, sim.driver,  sim.driver, port,
                      sim.files,  sim.chooser, sim.clock,  sim.threads};
    MemoryDialogView screen;
    JournalView view{screen, sim.clock};
    ViewLog log{view};
    SessionState state;
    Services services{state, log, platform, view};
    const std::shared_ptr<SimPhone> phone = sim.driver.phone(sim.phoneId);
    const std::string socket = sim.driver.listPhones().at(0);
    SimInterfaceOptions replug;
    replug.road = Road::usb;
    replug.devicePath = socket;

    // Pulled out while idle, plugged back in: the scan sees it and the arrival opens it.
    ASSERT_EQ(UsbPhoneFinder(port).scanForPhone(), socket);
    handleArrival(services);
    ASSERT_TRUE(state.deviceHandle().valid());
    sim.driver.detachAll();
    EXPECT_FALSE(port.waitForRemoval(socket, {}));
    handleRemoval(services);
    const SimInterfaceId second = sim.driver.attach(replug, phone);
    EXPECT_EQ(UsbPhoneFinder(port).scanForPhone(), socket);
    handleArrival(services);
    EXPECT_TRUE(state.connected);
    EXPECT_TRUE(state.deviceHandle().valid());

    // A command running at the removal holds the handle it took: the phone back in its socket
    // shows only once that command has ended.
    auto command = std::make_unique<CommandContext>(services);
    sim.driver.detach(second);
    EXPECT_FALSE(port.waitForRemoval(socket, {}));
    handleRemoval(services);
    sim.driver.attach(replug, phone);
    EXPECT_EQ(UsbPhoneFinder(port).scanForPhone(), std::nullopt);
    command.reset();
    EXPECT_EQ(UsbPhoneFinder(port).scanForPhone(), socket);
    handleArrival(services);
    EXPECT_TRUE(state.deviceHandle().valid());
    state.device.store(nullptr);
}

}  // namespace
}  // namespace norvale
