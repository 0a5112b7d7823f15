// Arrival and removal as the UI thread handles them: session fields, log, status, the device.
#include <gtest/gtest.h>

#include <memory>

#include "integration/PresenceRig.h"
#include "presence/PresenceHandling.h"

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

TEST(PresenceHandling, RemovalClearsConnectedButKeepsTheDevice) {
    PresenceRig rig;
    handleArrival(rig.services);
    const auto device = rig.state.device.load();
    rig.view.clear();
    rig.sim.driver.detach(rig.sim.phoneId);
    handleRemoval(rig.services);

    EXPECT_EQ(rig.view.entries(), kRemovalEntries);
    EXPECT_EQ(rig.screen.logText(), text::kPhoneConnected.str() + line(text::kBootVersion, "0C60") +
                                        line(text::kMode, "FLASH ") +
                                        text::kPhoneDisconnected.str() + "\r\n");
    EXPECT_EQ(rig.screen.statusText(), text::kStatusDisconnected.str());
    EXPECT_FALSE(rig.state.connected);
    EXPECT_EQ(rig.state.device.load(), device);
    EXPECT_EQ(rig.sim.driver.counters().liveHandles, 1u);
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

}  // namespace
}  // namespace norvale
