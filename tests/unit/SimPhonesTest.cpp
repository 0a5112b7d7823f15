// Several simulated phones from the environment: locations, flash, faults, traces, arrivals.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "protocol/DriverPhoneLink.h"
#include "sim/SimDriver.h"
#include "sim/VirtualClock.h"
#include "unit/ScopedEnvironment.h"

namespace norvale {
namespace {

using Lines = std::vector<std::string>;

using Environment = testing::ScopedEnvironment;

Lines fileLines(const std::filesystem::path& path) {
    std::ifstream in(path);
    Lines lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

const Bytes kRqhw{0x02, 'R', 'Q', 'H', 'W', 0x03};

class SimPhonesTest : public ::testing::Test {
protected:
    ~SimPhonesTest() override { std::filesystem::remove_all(folder); }

    bool send(DeviceHandle device, const Bytes& bytes) {
        return driver->bulkOut(device, bytes, 1000).status == UsbStatus::done;
    }
    Bytes receive(DeviceHandle device) {
        Bytes buffer(64);
        const UsbTransfer got = driver->bulkIn(device, buffer, 1000);
        buffer.resize(got.status == UsbStatus::done ? got.transferred : 0);
        return buffer;
    }

    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("norvale-sim-phones-" + std::to_string(std::rand()));
    VirtualClock clock;
    std::unique_ptr<SimDriver> driver;
};

// Three phones on the USB road, the third plugged in 1.5 s later; a fault for phone 2 and one
// that names no phone (phone 1's), each counting its own phone's transfers; one trace file each.
TEST_F(SimPhonesTest, EachPhoneHasItsLocationFlashFaultsAndTraceFile) {
    std::filesystem::create_directories(folder);
    {
        const Environment environment({{"NORVALE_SIM_ROAD", "usb"},
                                       {"NORVALE_SIM_PHONES", "3"},
                                       {"NORVALE_SIM_ARRIVE", "3@1500"},
                                       {"NORVALE_SIM_FAULTS", "2:unplug@2, nodata@1, 4:hang@1"},
                                       {"NORVALE_SIM_TRACE", (folder / "trace.txt").string()}});
        ::testing::internal::CaptureStderr();
        driver = SimDriver::fromEnvironment(clock);
        const std::string complaints = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(complaints.find("NORVALE_SIM_FAULTS: there is no phone 4"), std::string::npos);
        EXPECT_EQ(complaints.find("ignoring"), std::string::npos) << complaints;
    }
    EXPECT_EQ(driver->listPhones(), (Lines{"sim-1", "sim-2"}));
    const DeviceHandle one = driver->open("sim-1");
    const DeviceHandle two = driver->open("sim-2");

    EXPECT_TRUE(send(two, kRqhw));   // phone 2's first
    EXPECT_TRUE(send(one, kRqhw));   // phone 1's first: lost on the way (nodata)
    EXPECT_FALSE(send(two, kRqhw));  // phone 2's second: pulled out just before it
    EXPECT_TRUE(send(one, kRqhw));   // phone 1's second, the run's fourth: no fault of phone 2's
    const Bytes reply = receive(one);
    EXPECT_EQ(reply.size(), 32u);
    EXPECT_EQ(driver->listPhones(), (Lines{"sim-1"}));

    clock.sleep(1500);
    EXPECT_EQ(driver->listPhones(), (Lines{"sim-1", "sim-3"}));

    // Phone 1 holds what a single phone holds; the others differ in every byte.
    const std::vector<SimInterfaceId> ids = driver->interfaceIds();
    ASSERT_EQ(ids.size(), 3u);
    for (unsigned k = 1; k <= 3; ++k) {
        EXPECT_EQ(driver->phoneNumber(ids[k - 1]), k);
        const Bytes flash = driver->withPhone(
            ids[k - 1], [](const SimPhone& phone) { return phone.readFlash(0x10000000, 2); });
        const std::uint8_t mask = SimPhone::erasedFlashMaskOf(k);
        EXPECT_EQ(flash, (Bytes{static_cast<std::uint8_t>(0x10 ^ mask),
                                static_cast<std::uint8_t>(0x11 ^ mask)}));
    }
    EXPECT_EQ(SimPhone::erasedFlashMaskOf(2), 0x25);
    EXPECT_EQ(SimPhone::erasedFlashMaskOf(3), 0x4a);

    driver.reset();
    EXPECT_EQ(fileLines(folder / "trace-2.txt"),
              (Lines{"# road usb", "W 2 025251485703", "W 2 025251485703 FAIL"}));
    EXPECT_EQ(fileLines(folder / "trace-1.txt"),
              (Lines{"# road usb", "W 2 025251485703", "W 2 025251485703",
                     "R 2 64 " + SimTrace::hex(reply)}));
    EXPECT_EQ(fileLines(folder / "trace-3.txt"), (Lines{"# road usb"}));
    EXPECT_FALSE(std::filesystem::exists(folder / "trace.txt"));
}

// On the maker's driver the location is in the device path; a phone started with 'S' 'A' comes
// back NORVALE_SIM_RETURN ms later at the same place, freshly booted with its flash kept.
TEST_F(SimPhonesTest, OnTheDriverRoadLocationsAreInThePathsAndAStartedPhoneReturns) {
    {
        const Environment environment({{"NORVALE_SIM_PHONES", "2"}, {"NORVALE_SIM_RETURN", "700"}});
        driver = SimDriver::fromEnvironment(clock);
    }
    const std::string path1 = "\\\\?\\usb#vid_22b8&pid_4903#sim-1#{4e1e1e15-52d7-11d4-852d-"
                              "00105aa6f80b}";
    EXPECT_EQ(driver->devicePathOf(1), path1);
    EXPECT_EQ(driver->devicePathOf(2), "\\\\?\\usb#vid_22b8&pid_4903#sim-2#{4e1e1e15-52d7-11d4-"
                                       "852d-00105aa6f80b}");
    EXPECT_TRUE(driver->listPhones().empty());  // nothing on the bare USB road

    driver->phone(1)->writeFlash(0x10000000, Bytes{0xAB});
    // The RAM loader, then 'S' 'A': the phone restarts out of flash mode.
    const DriverPhoneLink link(*driver);
    const DeviceHandle device = driver->open(path1);
    ASSERT_TRUE(link.writePipe(device, kPipe, Bytes{'A'}, 1000));
    ASSERT_TRUE(link.writePipe(device, kPipe, Bytes(2048, 0), 1000));
    ASSERT_TRUE(link.writePipe(device, kPipe, Bytes{'S'}, 1000));
    ASSERT_TRUE(link.writePipe(device, kPipe, Bytes{'A'}, 1000));
    EXPECT_FALSE(driver->attached(1));

    clock.sleep(699);
    DeviceSet set = driver->openSet();
    EXPECT_TRUE(driver->member(set, 1) == std::nullopt);
    driver->closeSet(set);
    clock.sleep(1);
    set = driver->openSet();
    ASSERT_TRUE(driver->member(set, 1).has_value());
    driver->closeSet(set);

    const std::vector<SimInterfaceId> ids = driver->interfaceIds();
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_EQ(driver->devicePathOf(ids[2]), path1);
    EXPECT_EQ(driver->phoneNumber(ids[2]), 1u);
    EXPECT_TRUE(driver->withPhone(ids[2], [](const SimPhone& phone) {
        return !phone.loaderRunning() && phone.flashByte(0x10000000) == 0xAB;
    }));
}

// Phones behind a slow hub: every transfer that completes takes the pace longer on either road,
// a string query none; a pace that is no number is refused and leaves the transfers at full pace.
TEST_F(SimPhonesTest, APacedPhoneTakesThePaceForEveryTransferOnEitherRoad) {
    {
        const Environment environment({{"NORVALE_SIM_PHONES", "2"}, {"NORVALE_SIM_PACE", "40"}});
        driver = SimDriver::fromEnvironment(clock);
    }
    const DriverPhoneLink link(*driver);
    const DeviceHandle device = driver->open(driver->devicePathOf(1));
    std::uint64_t before = clock.nowMs();
    ASSERT_TRUE(link.writePipe(device, kPipe, kRqhw, 1000));
    EXPECT_EQ(clock.nowMs() - before, 40u);
    before = clock.nowMs();
    ASSERT_EQ(link.readPipe(device, kPipe, 32, 1000).data.size(), 32u);
    EXPECT_EQ(clock.nowMs() - before, 40u);
    before = clock.nowMs();
    EXPECT_TRUE(link.queryString(device, 0x0002).completed);
    EXPECT_EQ(clock.nowMs(), before);

    {
        const Environment environment(
            {{"NORVALE_SIM_ROAD", "usb"}, {"NORVALE_SIM_PHONES", "1"}, {"NORVALE_SIM_PACE", "25"}});
        driver = SimDriver::fromEnvironment(clock);
    }
    const DeviceHandle usb = driver->open("sim-1");
    before = clock.nowMs();
    ASSERT_TRUE(send(usb, kRqhw));
    ASSERT_EQ(receive(usb).size(), 32u);
    EXPECT_EQ(clock.nowMs() - before, 50u);

    {
        const Environment environment(
            {{"NORVALE_SIM_PACE", "slow"}, {"NORVALE_SIM_ROAD", "driver"}});
        ::testing::internal::CaptureStderr();
        driver = SimDriver::fromEnvironment(clock);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "norvale-sim: NORVALE_SIM_PACE: ignoring 'slow' (expected MS from 1 to 60000)\n");
    }
    const DriverPhoneLink unpacedLink(*driver);
    const DeviceHandle unpaced = driver->open(driver->devicePathOf(1));
    before = clock.nowMs();
    ASSERT_TRUE(unpacedLink.writePipe(unpaced, kPipe, kRqhw, 1000));
    EXPECT_EQ(clock.nowMs(), before);
}

}  // namespace
}  // namespace norvale
