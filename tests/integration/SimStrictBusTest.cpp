// The USB road against the simulated bus, which keeps to the bus's rules: replies as 64-byte
// packets, a transfer ended only by a full buffer or a short packet, what it leaves queued for
// the next, and the zero-length packet after a reply of whole packets at the phone's choice.
#include <gtest/gtest.h>

#include "CliRig.h"
#include "StrictBusStories.h"

namespace norvale {
namespace {

using namespace norvale::testing;

// norvale-cli --sim with the one phone on the USB road.
class UsbCliRig : public CliRig {
public:
    explicit UsbCliRig(bool zeroLengthAfterWhole) {
        driver.detach(phoneId);
        SimInterfaceOptions usb;
        usb.road = Road::usb;
        usb.zeroLengthAfterWhole = zeroLengthAfterWhole;
        phoneId = driver.attach(usb);
    }

    // The sizes of the bulk IN transfers the trace shows.
    std::vector<std::uint32_t> inTransferSizes() const {
        std::vector<std::uint32_t> sizes;
        for (const std::string& line : driver.trace()) {
            if (line.starts_with("R 2 ")) sizes.push_back(std::stoul(line.substr(4)));
        }
        return sizes;
    }
    // The trace from the read request for `count` bytes at 10000000 to the 'Z' after it.
    std::vector<std::string> readFromRequest(std::uint32_t count) const {
        char request[32];
        std::snprintf(request, sizeof request, "W 2 5210000000%08x", count);
        const std::vector<std::string> trace = driver.trace();
        const auto from = std::find(trace.begin(), trace.end(), std::string(request));
        const auto to = std::find(from, trace.end(), "W 2 5a");
        return {from, to == trace.end() ? to : to + 1};
    }
};

class SimStrictBus : public ::testing::TestWithParam<bool> {};

TEST_P(SimStrictBus, ReadsWhoseLastReplyIsAFewWholePacketsAskForWhatIsOwed) {
    UsbCliRig rig(GetParam());
    tellOwedReads(rig, GetParam(), [&] { return rig.inTransferSizes(); });

    // Each transfer and what it took, byte for byte.
    const Bytes range = rig.flash(0x10000000, 0x1040);
    const std::string head = "R 2 4096 " + hexOf(std::span(range).first(4096));
    const std::string tail = "R 2 64 " + hexOf(std::span(range).subspan(4096));
    const std::vector<std::string> expected =
        GetParam()
            ? std::vector<std::string>{"W 2 521000000000001040", head, "R 2 64", tail, "W 2 5a"}
            : std::vector<std::string>{"W 2 521000000000001040", head, tail, "W 2 5a"};
    expectTranscript(rig.readFromRequest(0x1040), expected);
    expectTranscript(
        rig.readFromRequest(0x100),
        {"W 2 521000000000000100", "R 2 256 " + hexOf(std::span(range).first(0x100)), "W 2 5a"});
}

TEST_P(SimStrictBus, AVerifiedWriteAndARegionReadGoThroughWhole) {
    UsbCliRig rig(GetParam());
    tellVerifiedWriteAndRegionRead(rig, GetParam(), [&] { return rig.inTransferSizes(); });
    EXPECT_EQ(rig.flash(0x10010000, 0x10000), patternImage(0x10000, 0x5D));
}

INSTANTIATE_TEST_SUITE_P(ZeroLengthPacket, SimStrictBus, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "AfterWholePackets" : "Never";
                         });

// The bus's rules on the simulator's own port, with the RAM loader running and a read of two
// packets requested.
class SimBusRules : public ::testing::Test {
protected:
    void SetUp() override {
        SimInterfaceOptions usb;
        usb.road = Road::usb;
        phone = driver.attach(usb);
        device = driver.open(driver.devicePathOf(phone));
        ASSERT_TRUE(device.valid());
        ASSERT_EQ(driver.bulkOut(device, Bytes{'A'}, 1000).status, UsbStatus::done);
        ASSERT_EQ(driver.bulkOut(device, Bytes(2048, 0x33), 1000).status, UsbStatus::done);
        std::array<std::uint8_t, 64> reply{};
        ASSERT_EQ(driver.bulkIn(device, reply, 1000).transferred, 12u);
        request(0x80);
        driver.clearTrace();
    }
    void TearDown() override { driver.close(device); }

    void request(std::uint32_t count) {
        const Bytes read{'R', 0x10, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(count)};
        ASSERT_EQ(driver.bulkOut(device, read, 1000).status, UsbStatus::done);
    }
    Bytes taken(std::span<const std::uint8_t> buffer, const UsbTransfer& transfer) {
        return {buffer.begin(), buffer.begin() + transfer.transferred};
    }

    VirtualClock clock;
    SimDriver driver{clock};
    SimInterfaceId phone = 0;
    DeviceHandle device;
    const Bytes flash = SimPhone::erasedFlashOf(1, 0x10000000, 0x80);
};

TEST_F(SimBusRules, WhatATransferLeavesWaitsForTheNextAndOneThatAsksTooMuchWaitsOutItsTime) {
    // A packet's worth: the rest of the reply waits on the endpoint.
    std::array<std::uint8_t, 64> packet{};
    const UsbTransfer first = driver.bulkIn(device, packet, 1000);
    EXPECT_EQ(first.status, UsbStatus::done);
    EXPECT_EQ(taken(packet, first), Bytes(flash.begin(), flash.begin() + 64));
    // The second packet, and nothing after it: a transfer that asked for more gets what is left
    // and then waits for a short packet that never comes.
    std::array<std::uint8_t, 4096> whole{};
    const std::uint64_t before = clock.nowMs();
    const UsbTransfer rest = driver.bulkIn(device, whole, 700);
    EXPECT_EQ(rest.status, UsbStatus::timedOut);
    EXPECT_EQ(taken(whole, rest), Bytes(flash.begin() + 64, flash.end()));
    EXPECT_EQ(clock.nowMs() - before, 700u);
    EXPECT_EQ(driver.trace(), (std::vector<std::string>{
                                  "R 2 64 " + hexOf(std::span(flash).first(64)),
                                  "R 2 4096 " + hexOf(std::span(flash).subspan(64)) + " FAIL"}));

    // A phone that sends a zero-length packet after a reply of whole packets ends such a
    // transfer; one that was exactly full leaves the zero-length packet to the next transfer.
    driver.close(device);
    SimInterfaceOptions usb;
    usb.road = Road::usb;
    usb.zeroLengthAfterWhole = true;
    driver.detach(phone);
    device = driver.open(driver.devicePathOf(driver.attach(usb, driver.phone(phone))));
    request(0x80);
    const UsbTransfer ended = driver.bulkIn(device, whole, 700);
    EXPECT_EQ(ended.status, UsbStatus::done);
    EXPECT_EQ(taken(whole, ended), flash);
    request(0x40);
    EXPECT_EQ(driver.bulkIn(device, packet, 700).transferred, 64u);
    const UsbTransfer zeroLength = driver.bulkIn(device, packet, 700);
    EXPECT_EQ(zeroLength.status, UsbStatus::done);
    EXPECT_EQ(zeroLength.transferred, 0u);
}

TEST_F(SimBusRules, APacketLargerThanTheRoomLeftIsAnOverflowAndTheReadAheadGetsWhatFollows) {
    std::array<std::uint8_t, 100> odd{};
    const UsbTransfer overflowed = driver.bulkIn(device, odd, 1000);
    EXPECT_EQ(overflowed.status, UsbStatus::overflow);
    EXPECT_EQ(driver.trace().back(), "R 2 100 " + hexOf(std::span(flash).first(100)) + " FAIL");
    EXPECT_EQ(driver.bulkIn(device, odd, 300).status, UsbStatus::timedOut);  // the rest was lost

    // Queued transfers take the packets in turn, whatever their reply.
    request(0x80);
    const std::unique_ptr<UsbInQueue> queue = driver.openInQueue(device);
    ASSERT_TRUE(queue->submit(64));
    ASSERT_TRUE(queue->submit(64));
    for (const std::size_t offset : {0, 64}) {
        const UsbReaped got = queue->reap(1000);
        EXPECT_EQ(got.transfer.status, UsbStatus::done);
        EXPECT_EQ(Bytes(got.data.begin(), got.data.end()),
                  Bytes(flash.begin() + offset, flash.begin() + offset + 64));
    }
}

}  // namespace
}  // namespace norvale
