// The simulated driver: record checks, trace lines, faults, enumeration and the removal watch.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>

#include "platform/StopSignal.h"
#include "protocol/DriverPhoneLink.h"
#include "sim/SimDriver.h"
#include "sim/VirtualClock.h"
#include "unit/ScopedEnvironment.h"

namespace norvale {
namespace {

using Lines = std::vector<std::string>;

const std::string kDefaultPath1 =
    "\\\\?\\usb#vid_22b8&pid_4903#5&1b2c3d4e&0&1#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";

using norvale::testing::setEnvironment;

std::filesystem::path freshTempFile(const char* stem) {
    const auto path = std::filesystem::temp_directory_path() /
                      (std::string(stem) + std::to_string(std::rand()) + ".txt");
    std::filesystem::remove(path);
    return path;
}

Lines fileLines(const std::filesystem::path& path) {
    std::ifstream in(path);
    Lines lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class SimDriverTest : public ::testing::Test {
protected:
    VirtualClock clock;
    SimDriver driver{clock};
    DriverPhoneLink link{driver};
    SimInterfaceId id = driver.attach();
    DeviceHandle device = driver.open(driver.devicePathOf(id));

    bool writeZ(DeviceHandle handle, std::uint32_t waitMs = 0) {
        return link.writePipe(handle, kPipe, std::array<std::uint8_t, 1>{'Z'}, waitMs);
    }
};

TEST_F(SimDriverTest, ARequestWhoseRecordOrBuffersAreNotExactlyRightIsRejected) {
    const Bytes write = buildPipeWriteRecord(kPipe, std::array<std::uint8_t, 1>{'Z'});
    const auto read = buildPipeReadRecord(kPipe, 4);
    std::array<std::uint8_t, 4101> reply{};
    std::array<std::uint8_t, 261> text{};
    const std::array<std::uint8_t, 2> selector{0x02, 0x00};

    EXPECT_TRUE(driver.control(device, kIoctlPipeWrite, write, {}, 0).completed);
    // The header plus data without the trailing byte: one byte short.
    EXPECT_FALSE(
        driver.control(device, kIoctlPipeWrite, std::span(write).first(6), {}, 0).completed);
    EXPECT_FALSE(driver.control(device, kIoctlPipeWrite, write, reply, 0).completed);
    Bytes otherPipe = write;
    otherPipe[0] = 1;
    EXPECT_FALSE(driver.control(device, kIoctlPipeWrite, otherPipe, {}, 0).completed);

    EXPECT_FALSE(
        driver.control(device, kIoctlPipeRead, read, std::span(reply).first(4100), 0).completed);
    const ControlResult good = driver.control(device, kIoctlPipeRead, read, reply, 0);
    EXPECT_TRUE(good.completed);
    EXPECT_EQ(good.transferred, 8u);  // prefix + the first 4 bytes of the stage reply

    EXPECT_FALSE(
        driver.control(device, kIoctlGetString, selector, std::span(text).first(260), 0).completed);
    const std::array<std::uint8_t, 2> unknownSelector{0x04, 0x00};
    EXPECT_FALSE(driver.control(device, kIoctlGetString, unknownSelector, text, 0).completed);
    const ControlResult query = driver.control(device, kIoctlGetString, selector, text, 0);
    EXPECT_TRUE(query.completed);
    EXPECT_EQ(query.transferred, 4u + 2 * 24);
    EXPECT_EQ(Bytes(text.begin(), text.begin() + 8), (Bytes{24, 0, 0, 0, 'M', 0, 'o', 0}));

    EXPECT_FALSE(driver.control(device, 0x80002014, selector, text, 0).completed);

    EXPECT_EQ(driver.trace(), (Lines{"W 2 5a", "W 2 5a FAIL", "W 2 5a FAIL", "W 1 5a FAIL",
                                     "R 2 4 FAIL", "R 2 4 4c445230", "Q 0002 FAIL", "Q 0004 FAIL",
                                     "Q 0002 4d6f746f726f6c6120466c61736820496e74657266616365",
                                     "C 80002014 FAIL"}));
}

TEST_F(SimDriverTest, TraceHasOneLinePerRequestInMemoryAndInTheFile) {
    const auto path = freshTempFile("norvale-trace-");
    ASSERT_TRUE(driver.traceToFile(path.string()));

    link.writePipe(device, kPipe, rqhwPacket, 0);
    link.readPipe(device, kPipe, 32, 0);
    link.queryString(device, 0x0103);
    driver.close(device);
    writeZ(device);
    link.readPipe(device, kPipe, 4, 0);
    writeZ(kInvalidDevice);

    const Lines expected{
        "W 2 025251485703",
        "R 2 32 025251485"
        "71e4c544532"
        "20424f4f5420563d30433630"
        "2053494d2030303031"
        "03",
        "Q 0103 4d6f746f726f6c6120496e632e",
        "W 2 5a FAIL",
        "R 2 4 FAIL",
        "W 2 5a FAIL",
    };
    EXPECT_EQ(driver.trace(), expected);
    driver.traceToFile(freshTempFile("norvale-other-").string());  // closes the first file
    EXPECT_EQ(fileLines(path), expected);
    std::filesystem::remove(path);

    driver.clearTrace();
    driver.keepTrace(false);
    writeZ(device);
    EXPECT_EQ(driver.trace(), Lines{});
}

TEST_F(SimDriverTest, UnplugRemovesThePhoneBeforeTheNumberedTransfer) {
    driver.addFault(SimFaultKind::unplug, 3);
    const std::string key = driver.registryKeyOf(id);
    auto removal = std::async(std::launch::async, [&] { return driver.waitForChange(key, {}); });
    ASSERT_TRUE(driver.waitForWatchers(1, std::chrono::seconds(10)));

    EXPECT_TRUE(link.writePipe(device, kPipe, rqhwPacket, 0));   // 1
    EXPECT_TRUE(link.queryString(device, 0x0103).completed);     // queries don't count
    EXPECT_TRUE(link.readPipe(device, kPipe, 32, 0).completed);  // 2
    EXPECT_FALSE(link.writePipe(device, kPipe, enumPacket, 0));  // 3: the phone is gone
    EXPECT_TRUE(removal.get());
    EXPECT_FALSE(link.readPipe(device, kPipe, 256, 0).completed);  // 4
    EXPECT_FALSE(driver.attached(id));
    EXPECT_EQ(driver.pipeTransfers(), 4u);
    EXPECT_EQ(driver.trace().back(), "R 2 256 FAIL");
}

TEST_F(SimDriverTest, NodataCompletesTheReadEmptyAndHangFailsAfterTheWaitTime) {
    driver.addFault(SimFaultKind::nodata, 2);
    driver.addFault(SimFaultKind::hang, 4);
    driver.addFault(SimFaultKind::hang, 5);
    const auto read = buildPipeReadRecord(kPipe, 32);
    std::array<std::uint8_t, 4101> reply{};

    link.writePipe(device, kPipe, rqhwPacket, 0);                                        // 1
    const ControlResult empty = driver.control(device, kIoctlPipeRead, read, reply, 0);  // 2
    EXPECT_TRUE(empty.completed);
    EXPECT_EQ(empty.transferred, 4u);
    // The phone's reply was not taken by the empty read and comes with the next one.
    EXPECT_EQ(link.readPipe(device, kPipe, 32, 0).data.size(), 32u);  // 3

    EXPECT_FALSE(link.readPipe(device, kPipe, 4, 20000).completed);  // 4
    EXPECT_EQ(clock.now(), 20000u);
    EXPECT_FALSE(writeZ(device, 0));  // 5: hangs, waits 0
    EXPECT_EQ(clock.now(), 20000u);
    EXPECT_TRUE(writeZ(device, 0));  // 6
    EXPECT_TRUE(driver.attached(id));

    const Lines trace = driver.trace();
    ASSERT_EQ(trace.size(), 6u);
    EXPECT_EQ(trace[1], "R 2 32");
    EXPECT_EQ(trace[3], "R 2 4 FAIL");
    EXPECT_EQ(trace[4], "W 2 5a FAIL");
}

TEST_F(SimDriverTest, TransfersAreCountedAcrossInterfacesAndAFaultHitsOnlyItsOwn) {
    const SimInterfaceId second = driver.attach();
    const DeviceHandle other = driver.open(driver.devicePathOf(second));
    driver.addFault(SimFaultKind::unplug, 2);
    EXPECT_TRUE(writeZ(device));  // 1
    EXPECT_FALSE(writeZ(other));  // 2: the phone it was sent to is removed
    EXPECT_TRUE(writeZ(device));  // 3
    EXPECT_TRUE(driver.attached(id));
    EXPECT_FALSE(driver.attached(second));
}

TEST(SimFaultList, ParsesGoodItemsAndReportsTheRest) {
    const ParsedSimFaults parsed = parseSimFaults(
        " unplug@3, nodata@10 ,hang@7,,bogus@2,hang@0,hang@x,unplug,hang@-1,stuck@1001c000,"
        "stuck@0,stuck@,stuck@123456789,stuck@10g0");
    EXPECT_EQ(parsed.faults,
              (std::vector<SimFault>{
                  {SimFaultKind::unplug, 3}, {SimFaultKind::nodata, 10}, {SimFaultKind::hang, 7}}));
    EXPECT_EQ(parsed.stuckBlocks, (std::vector<std::uint32_t>{0x1001C000, 0}));
    EXPECT_EQ(parsed.rejected, (Lines{"bogus@2", "hang@0", "hang@x", "unplug", "hang@-1", "stuck@",
                                      "stuck@123456789", "stuck@10g0"}));
    EXPECT_TRUE(parseSimFaults("").faults.empty());
}

TEST(SimDriverEnvironment, FaultsAndTraceFileComeFromTheEnvironment) {
    const auto path = freshTempFile("norvale-envtrace-");
    setEnvironment("NORVALE_SIM_FAULTS", "nodata@2,oops");
    setEnvironment("NORVALE_SIM_TRACE", path.string().c_str());
    VirtualClock clock;
    ::testing::internal::CaptureStderr();
    auto driver = SimDriver::fromEnvironment(clock);
    const std::string complaints = ::testing::internal::GetCapturedStderr();
    setEnvironment("NORVALE_SIM_FAULTS", "");
    setEnvironment("NORVALE_SIM_TRACE", "");

    EXPECT_NE(complaints.find("'oops'"), std::string::npos);
    DriverPhoneLink link(*driver);
    const DeviceHandle device = driver->open(kDefaultPath1);
    EXPECT_EQ(link.queryString(device, 0x0002).text, "Motorola Flash Interface");
    link.writePipe(device, kPipe, rqhwPacket, 0);
    EXPECT_EQ(link.readPipe(device, kPipe, 32, 0).data, Bytes{});
    EXPECT_EQ(driver->trace(), Lines{});  // the long-running program keeps no trace in memory
    driver.reset();
    EXPECT_EQ(fileLines(path),
              (Lines{"# road driver", "Q 0002 4d6f746f726f6c6120466c61736820496e74657266616365",
                     "W 2 025251485703", "R 2 32"}));
    std::filesystem::remove(path);
}

TEST_F(SimDriverTest, EnumerationFollowsAttachOrderAndCountsWhatIsLeftOpen) {
    SimInterfaceOptions options;
    options.sizeQueryError = 5;
    const SimInterfaceId badSize = driver.attach(options);
    options = {};
    options.failDetailFetch = true;
    const SimInterfaceId badDetail = driver.attach(options);
    options = {};
    options.failOpen = true;
    const SimInterfaceId busy = driver.attach(options);

    const DeviceSet set = driver.openSet();
    ASSERT_TRUE(set.valid());
    std::vector<std::uint32_t> order;
    for (std::uint32_t i = 0; auto ref = driver.member(set, i); ++i) order.push_back(ref->bits);
    EXPECT_EQ(order, (std::vector<std::uint32_t>{id, badSize, badDetail, busy}));

    const InterfaceRef first = *driver.member(set, 0);
    const DetailSizeResult size = driver.detailSize(set, first);
    EXPECT_TRUE(size.sizeKnown);
    EXPECT_EQ(size.lastError, kErrorInsufficientBuffer);
    EXPECT_EQ(size.requiredSize, 5 + kDefaultPath1.size() + 1);
    EXPECT_EQ(driver.devicePath(set, first, size.requiredSize), kDefaultPath1);
    EXPECT_EQ(driver.devicePath(set, first, size.requiredSize - 1), std::nullopt);

    const DetailSizeResult failedSize = driver.detailSize(set, *driver.member(set, 1));
    EXPECT_FALSE(failedSize.sizeKnown);
    EXPECT_EQ(failedSize.lastError, 5u);
    EXPECT_EQ(driver.devicePath(set, *driver.member(set, 2), 200), std::nullopt);
    EXPECT_EQ(driver.open(driver.devicePathOf(busy)), kInvalidDevice);
    EXPECT_EQ(driver.openAttempts(busy), 1u);
    EXPECT_EQ(driver.openAttempts(badDetail), 0u);

    const DeviceHandle again = driver.open(kDefaultPath1);
    EXPECT_NE(again, device);
    EXPECT_EQ(driver.openAttempts(id), 2u);
    SimEnumerationCounters counters = driver.counters();
    EXPECT_EQ(counters.liveSets, 1u);
    EXPECT_EQ(counters.liveHandles, 2u);
    EXPECT_EQ(counters.pathsDelivered, 1u);

    driver.closeSet(set);
    driver.closeSet(set);
    driver.close(again);
    driver.close(again);
    driver.close(kInvalidDevice);
    counters = driver.counters();
    EXPECT_EQ(counters.liveSets, 0u);
    EXPECT_EQ(counters.liveHandles, 1u);
    EXPECT_EQ(counters.badSetCloses, 1u);
    EXPECT_EQ(counters.badHandleCloses, 2u);
    EXPECT_FALSE(link.writePipe(again, kPipe, rqhwPacket, 0));

    driver.setOpenSetFails(true);
    EXPECT_FALSE(driver.openSet().valid());
    EXPECT_EQ(driver.counters().setsOpened, 1u);
}

TEST_F(SimDriverTest, DetachWakesTheWatchFailsRequestsAndLeavesTheEnumeration) {
    const SimInterfaceId second = driver.attach();
    const std::string key = driver.registryKeyOf(id);
    EXPECT_EQ(key, "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\"
                   "{4e1e1e15-52d7-11d4-852d-00105aa6f80b}\\"
                   "##?#usb#vid_22b8&pid_4903#5&1b2c3d4e&0&1#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}"
                   "\\#\\Control");
    auto removal = std::async(std::launch::async, [&] { return driver.waitForChange(key, {}); });
    ASSERT_TRUE(driver.waitForWatchers(1, std::chrono::seconds(10)));
    EXPECT_EQ(removal.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);

    EXPECT_TRUE(driver.detach(id));
    EXPECT_TRUE(removal.get());
    EXPECT_FALSE(driver.detach(id));
    EXPECT_FALSE(writeZ(device, 60000));
    EXPECT_EQ(clock.now(), 0u);  // rejected at once, not after the wait time
    EXPECT_FALSE(link.queryString(device, 0x0103).completed);
    EXPECT_EQ(driver.open(kDefaultPath1), kInvalidDevice);
    EXPECT_FALSE(driver.waitForChange(key, {}));  // gone: nothing to wait for

    const DeviceSet set = driver.openSet();
    EXPECT_EQ(driver.member(set, 0)->bits, second);
    EXPECT_EQ(driver.member(set, 1), std::nullopt);
    driver.closeSet(set);
    driver.close(device);  // closing a removed phone's handle is still a proper close
    EXPECT_EQ(driver.counters().badHandleCloses, 0u);
}

// A frame holds 19 packets of 64 bytes. A transfer starts in the frame after the one it was
// submitted in, or right behind the transfer before it when that one is still on the bus.
// A removal wait its owner stops ends with false while the phone stays, on either road, so the
// owner can join the thread that waited; one stopped before it began does not wait at all.
TEST_F(SimDriverTest, AStoppedRemovalWaitEndsWithoutTheRemovalOnBothRoads) {
    SimInterfaceOptions usb;
    usb.road = Road::usb;
    usb.devicePath = "sim-9";
    const SimInterfaceId onBus = driver.attach(usb);
    StopSource stopKey;
    StopSource stopBus;
    auto key = std::async(std::launch::async, [&] {
        return driver.waitForChange(driver.registryKeyOf(id), stopKey.token());
    });
    auto bus = std::async(std::launch::async,
                          [&] { return driver.waitForRemoval("sim-9", stopBus.token()); });
    ASSERT_TRUE(driver.waitForWatchers(2, std::chrono::seconds(10)));

    stopKey.requestStop();
    EXPECT_FALSE(key.get());
    EXPECT_EQ(driver.watchersWaiting(), 1u);
    EXPECT_EQ(bus.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
    stopBus.requestStop();
    EXPECT_FALSE(bus.get());
    EXPECT_EQ(driver.watchersWaiting(), 0u);
    EXPECT_TRUE(driver.attached(id));
    EXPECT_TRUE(driver.attached(onBus));

    EXPECT_FALSE(driver.waitForRemoval("sim-9", stopBus.token()));
    EXPECT_EQ(driver.watchersWaiting(), 0u);
}

TEST_F(SimDriverTest, TheFullSpeedModelChargesFramesAndPacketsOnTheVirtualClock) {
    driver.modelFullSpeed(true);
    link.writePipe(device, kPipe, Bytes(4096, 0x55), 0);  // 64 packets: slots 19 to 82
    link.writePipe(device, kPipe, rqhwPacket, 0);         // submitted in frame 4: slot 95
    link.readPipe(device, kPipe, 32, 0);                  // submitted in frame 5: slot 114
    EXPECT_DOUBLE_EQ(driver.modelledMs(), 115.0 / 19);
    EXPECT_EQ(clock.now(), 6u);

    // Two bulk IN transfers queued together run back to back: the second takes the rest of the
    // frame the first ends in, where one submitted after the first ended would wait a frame.
    const SimInterfaceId usbId = driver.attach({.road = Road::usb});
    const DeviceHandle usb = driver.open(driver.devicePathOf(usbId));
    driver.phone(usbId)->write(rqhwPacket);
    driver.phone(usbId)->write(enumPacket);
    const auto queue = driver.openInQueue(usb);
    ASSERT_TRUE(queue && queue->submit(64) && queue->submit(64));  // in frame 6
    EXPECT_EQ(queue->reap(1000).transfer.transferred, 32u);        // frame 7: slot 133
    EXPECT_EQ(queue->reap(1000).transfer.transferred, 13u);        // right behind it: slot 134
    EXPECT_DOUBLE_EQ(driver.modelledMs(), 135.0 / 19);
    EXPECT_EQ(queue->reap(1000).transfer.status, UsbStatus::failed);  // none outstanding
}

}  // namespace
}  // namespace norvale
