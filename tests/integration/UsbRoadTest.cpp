// The same operator's story over both roads to the phone: the USB road puts the driver road's data
// bytes on the wire and the operator reads the same log.
#include <gtest/gtest.h>

#include <thread>

#include "OperationsRig.h"
#include "integration/PresenceRig.h"
#include "operations/FlashRangeReader.h"
#include "operations/PhoneControl.h"
#include "operations/RegionWriter.h"
#include "presence/ConnectionMonitor.h"
#include "presence/PresenceHandling.h"
#include "ui/CommandBodies.h"

namespace norvale {
namespace {

using namespace norvale::testing;

// One run of the story: the body transcripts with each read's request size taken out (a bulk IN
// asks for whole packets), and the phone's flash afterwards.
struct StoryRun {
    std::vector<std::string> transcript;
    Bytes flash;
};

std::string withoutReadSize(const std::string& line) {
    if (line.rfind("R 2 ", 0) != 0) return line;
    const std::size_t sizeEnd = line.find(' ', 4);
    return "R 2 *" + (sizeEnd == std::string::npos ? std::string{} : line.substr(sizeEnd));
}

StoryRun runStory(Road road) {
    OperationsRig rig(road);
    const CommandBodies bodies = productCommandBodies();
    StoryRun run;
    const auto keep = [&](const std::vector<std::string>& lines) {
        for (const std::string& line : lines) run.transcript.push_back(withoutReadSize(line));
    };
    rig.pickImage("pds.img", patternImage(0x10000, 41));
    keep(rig.run(bodies.writePds));
    keep(rig.run(bodies.readRangeToFile));  // PDS.bin: the round trip
    EXPECT_EQ(fileBytes("PDS.bin"), patternImage(0x10000, 41));
    rig.fields("1001C000", "10030000");  // a 32 KB block, then a 128 KB one
    rig.pickImage("range.img", patternImage(0x28000, 42));
    keep(rig.run(bodies.writeBlockRange));
    keep(rig.run(bodies.setBlankMode));
    run.flash = rig.flash(0x10010000, 0x40000);
    keep(rig.run(bodies.startPhone));
    EXPECT_FALSE(rig.sim.driver.attached(rig.sim.phoneId)) << "the phone left flash mode";
    return run;
}

TEST(UsbRoad, TheOperatorsStoryPutsTheDriverRoadsBytesOnTheWire) {
    const StoryRun driver = runStory(Road::driver);
    const StoryRun usb = runStory(Road::usb);
    expectTranscript(usb.transcript, driver.transcript);
    EXPECT_EQ(usb.flash, driver.flash);
    ASSERT_GT(driver.transcript.size(), 100u);
    EXPECT_EQ(driver.transcript.back(), logged(text::kSuccess));
}

TEST(UsbRoad, ReadsAskForWholePacketsAndAZeroLengthPacketIsNoReply) {
    OperationsRig rig(Road::usb);
    // The body's read request, then a zero-length packet before the first reply: skipped.
    rig.fields("10010000", "10010FFF");
    const auto lines = rig.run(productCommandBodies().readRangeToFile, {{SimFaultKind::nodata, 2}});
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[1], "W 2 521001000000001000");
    EXPECT_EQ(lines[2], "R 2 4096");  // the zero-length packet
    EXPECT_EQ(lines[3].substr(0, 16), "R 2 4096 " + hexOf(rig.flash(0x10010000, 4)).substr(0, 7));
    EXPECT_EQ(lines[4], "W 2 5a");
    EXPECT_EQ(lines[5], logged(text::kSuccess));
    EXPECT_EQ(fileBytes("10010000-10010FFF.bin"), rig.flash(0x10010000, 0x1000));
}

TEST(UsbRoad, AReplyThatNeverComesEndsTheCommandWithinItsWaitTime) {
    OperationsRig rig(Road::usb);
    rig.pickImage("pds.img", patternImage(0x10000, 43));
    // The first chunk's reply never comes: the 20 s wait runs out and the transfer is given up.
    const std::uint64_t before = rig.sim.clock.nowMs();
    const auto lines = rig.run(productCommandBodies().writePds, {{SimFaultKind::hang, 4}});
    EXPECT_EQ(lines.back(), errorLogged(text::kNoAnswerFromPhone));
    EXPECT_EQ(lines[lines.size() - 2], "R 2 64 FAIL");
    // The bootstrap paused 16 ms after each of its three BIN packets; the rest is the one wait.
    EXPECT_EQ(rig.sim.clock.nowMs() - before, 3 * 16u + 20000u);
}

TEST(UsbRoad, ArrivalTellsTheSameOnBothRoadsAndTheMonitorSeesTheUsbPhoneLeave) {
    std::vector<std::string> told[2];
    for (const Road road : {Road::driver, Road::usb}) {
        presence_testing::PresenceRig rig(SimPlatform::Phone::none);
        rig.folder.put("KESTRIN.ini", "CG1ADR=100A0000");
        SimInterfaceOptions phone;
        phone.road = road;
        const SimInterfaceId id = rig.sim.driver.attach(phone);
        rig.screen.setPresenceHandler([&](std::uintptr_t wParam) {
            if (wParam == kPresenceArrived) handleArrival(rig.services);
            if (wParam == kPresenceLeft) handleRemoval(rig.services);
        });
        ConnectionMonitor monitor(rig.sim.platform, rig.view);
        EXPECT_EQ(monitor.step(), ConnectionMonitor::State::announcing);
        EXPECT_EQ(monitor.step(), ConnectionMonitor::State::watching);
        ASSERT_NE(rig.state.device.load(), nullptr);
        EXPECT_EQ(rig.state.device.load()->road(), road);
        // The watch blocks until the phone goes.
        std::thread unplug([&] {
            rig.sim.driver.waitForWatchers(1, std::chrono::seconds(5));
            rig.sim.driver.detach(id);
        });
        EXPECT_EQ(monitor.step(), ConnectionMonitor::State::removing);
        unplug.join();
        EXPECT_EQ(monitor.step(), ConnectionMonitor::State::pausing);
        told[road == Road::usb ? 1 : 0] = rig.view.entries();
        // Every transfer after the removal fails at once.
        const PhoneLink& link = rig.services.link(road);
        EXPECT_FALSE(link.writePipe(rig.state.deviceHandle(), kPipe, rqhwPacket, 60000));
        EXPECT_EQ(rig.sim.clock.nowMs(), 1000u);
    }
    EXPECT_EQ(told[1], told[0]);
    EXPECT_EQ(told[0].size(), 8u);
}

}  // namespace
}  // namespace norvale
