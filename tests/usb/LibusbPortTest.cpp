// The Linux USB binding on its own, through real libusb against the emulated phone.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <future>
#include <thread>

#include "EmulatedPhone.h"
#include "platform/StopSignal.h"
#include "platform/libusb/LibusbPort.h"
#include "protocol/CommandFormats.h"

namespace norvale::usb_testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

// The phone on its bus, and the port started after it, which learns of removals as `notice` says.
template <class Base>
class PortOnBus : public Base {
protected:
    explicit PortOnBus(RemovalNotice notice = RemovalNotice::hotplug) : port(notice) {}
    void SetUp() override {
        ASSERT_TRUE(underUmockdevWrapper()) << "run the suite under umockdev-wrapper";
        ASSERT_TRUE(port.available());
    }

    // A waitForRemoval() on another thread. Declared first, so that if it is still waiting when
    // the test ends, the port's destructor ends it before this joins it.
    std::future<bool> watch;
    EmulatedPhone phone;
    LibusbPort port;
};

using LibusbPortTest = PortOnBus<::testing::Test>;

class LibusbRemoval : public PortOnBus<::testing::TestWithParam<RemovalNotice>> {
protected:
    LibusbRemoval() : PortOnBus(GetParam()) {}
};

TEST_F(LibusbPortTest, FindsThePhoneByItsDescriptorsAndTalksToItsBulkEndpoints) {
    EXPECT_EQ(port.listPhones(), std::vector<std::string>{EmulatedPhone::kLocation});
    EXPECT_EQ(port.open("1-1"), kInvalidDevice);  // the hub the phone hangs on
    const DeviceHandle device = port.open(EmulatedPhone::kLocation);
    ASSERT_TRUE(device.valid());
    EXPECT_EQ(port.maxPacketSize(device), EmulatedPhone::kMaxPacket);

    const UsbTransfer sent = port.bulkOut(device, rqhwPacket, 1000);
    EXPECT_EQ(sent.status, UsbStatus::done);
    EXPECT_EQ(sent.transferred, rqhwPacket.size());
    std::array<std::uint8_t, 64> reply{};
    const UsbTransfer got = port.bulkIn(device, reply, 1000);
    SimPhone reference;
    reference.write(rqhwPacket);
    const Bytes expected = reference.read(64);
    ASSERT_EQ(got.status, UsbStatus::done);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + got.transferred), expected);

    // The raw descriptors, in the device's first language; cut to the buffer when it is short.
    std::array<std::uint8_t, 255> descriptor{};
    const UsbTransfer maker = port.stringDescriptor(device, UsbString::manufacturer, descriptor);
    Bytes makerBytes{28, 3};
    for (const char c : std::string_view("Motorola Inc.")) {
        makerBytes.insert(makerBytes.end(), {static_cast<std::uint8_t>(c), 0});
    }
    ASSERT_EQ(maker.status, UsbStatus::done);
    EXPECT_EQ(Bytes(descriptor.begin(), descriptor.begin() + maker.transferred), makerBytes);
    std::array<std::uint8_t, 8> shortBuffer{};
    const UsbTransfer product = port.stringDescriptor(device, UsbString::product, shortBuffer);
    EXPECT_EQ(product.status, UsbStatus::done);
    EXPECT_EQ(Bytes(shortBuffer.begin(), shortBuffer.end()),
              (Bytes{50, 3, 'M', 0, 'o', 0, 't', 0}));

    port.close(device);
    EXPECT_EQ(port.bulkOut(device, rqhwPacket, 1000).status, UsbStatus::gone);
    EXPECT_EQ(phone.requests(),
              (std::vector<std::string>{"detach-and-claim 0", "release 0", "connect 0"}));
    EXPECT_EQ(phone.writes(), std::vector<std::string>{"025251485703"});
}

TEST_F(LibusbPortTest, ATransferEndsAtItsWaitTimeOrWhenCancelledAndIsGivenBackFirst) {
    const DeviceHandle device = port.open(EmulatedPhone::kLocation);
    ASSERT_TRUE(device.valid());
    std::array<std::uint8_t, 64> buffer{};

    // The phone does not answer: the transfer is cancelled at its limit, and the call returns
    // only once usbfs has given the URB back.
    phone.addFault(UrbFault::hang, phone.bulkUrbs() + 1);
    auto start = Clock::now();
    const UsbTransfer quiet = port.bulkIn(device, buffer, 300);
    EXPECT_EQ(quiet.status, UsbStatus::timedOut);
    EXPECT_GE(since(start), milliseconds(300));
    EXPECT_LT(since(start), milliseconds(1000));
    EXPECT_EQ(phone.urbsInFlight(), 0u);

    // cancel() from another thread ends a transfer with a long wait at once.
    phone.addFault(UrbFault::hang, phone.bulkUrbs() + 1);
    auto cancelled = std::async(std::launch::async, [&] {
        for (int i = 0; i < 400 && phone.urbsInFlight() == 0; ++i) {
            std::this_thread::sleep_for(milliseconds(5));
        }
        port.cancel(device);
    });
    start = Clock::now();
    const UsbTransfer ended = port.bulkIn(device, buffer, 20000);
    cancelled.get();
    EXPECT_EQ(ended.status, UsbStatus::failed);
    EXPECT_LT(since(start), milliseconds(3000));
    EXPECT_EQ(phone.urbsInFlight(), 0u);
    const std::vector<std::string> requests = phone.requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "discard"), 2);
    port.close(device);
}

// Queued reads end in the order they were submitted, a reap that runs out leaves its read in
// flight, and the queue's end takes back what is left without letting a read behind a cancelled
// one take the phone's next reply.
TEST_F(LibusbPortTest, QueuedReadsEndInOrderAndTheQueuesEndTakesNoReplyMeantForLater) {
    const DeviceHandle device = port.open(EmulatedPhone::kLocation);
    ASSERT_TRUE(device.valid());
    ASSERT_EQ(port.bulkOut(device, rqhwPacket, 1000).status, UsbStatus::done);
    ASSERT_EQ(port.bulkOut(device, enumPacket, 1000).status, UsbStatus::done);
    SimPhone reference;
    reference.write(rqhwPacket);
    reference.write(enumPacket);
    const Bytes rqhwReply = reference.read(64);
    const Bytes enumReply = reference.read(64);
    {
        const std::unique_ptr<UsbInQueue> queue = port.openInQueue(device);
        ASSERT_NE(queue, nullptr);
        phone.addFault(UrbFault::hang, phone.bulkUrbs() + 3);
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(queue->submit(64));
        const UsbReaped first = queue->reap(1000);
        ASSERT_EQ(first.transfer.status, UsbStatus::done);
        EXPECT_EQ(Bytes(first.data.begin(), first.data.end()), rqhwReply);
        const UsbReaped second = queue->reap(1000);
        EXPECT_EQ(Bytes(second.data.begin(), second.data.end()), enumReply);
        // The phone does not answer the third read: it stays in flight.
        EXPECT_EQ(queue->reap(200).transfer.status, UsbStatus::timedOut);
        EXPECT_EQ(phone.urbsInFlight(), 1u);
    }
    EXPECT_EQ(phone.urbsInFlight(), 0u);

    // A read the phone holds, and one queued behind it, when the phone has a reply ready: the
    // queue goes, and the reply is still there for the next read.
    ASSERT_EQ(port.bulkOut(device, rqhwPacket, 1000).status, UsbStatus::done);
    phone.addFault(UrbFault::hang, phone.bulkUrbs() + 1);
    {
        const std::unique_ptr<UsbInQueue> queue = port.openInQueue(device);
        ASSERT_TRUE(queue->submit(64));
        ASSERT_TRUE(queue->submit(64));
        EXPECT_EQ(queue->reap(200).transfer.status, UsbStatus::timedOut);
    }
    EXPECT_EQ(phone.urbsInFlight(), 0u);
    std::array<std::uint8_t, 64> reply{};
    const UsbTransfer got = port.bulkIn(device, reply, 1000);
    ASSERT_EQ(got.status, UsbStatus::done);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + got.transferred), rqhwReply);
    port.close(device);
}

// The RAM loader running and `count` bytes of flash from 10000000 requested, through the port.
void requestFlash(LibusbPort& port, DeviceHandle device, std::uint8_t count) {
    ASSERT_EQ(port.bulkOut(device, Bytes{'A'}, 1000).status, UsbStatus::done);
    ASSERT_EQ(port.bulkOut(device, Bytes(2048, 0x33), 1000).status, UsbStatus::done);
    std::array<std::uint8_t, 64> greeting{};
    ASSERT_EQ(port.bulkIn(device, greeting, 1000).transferred, 12u);
    const Bytes read{'R', 0x10, 0, 0, 0, 0, 0, 0, count};
    ASSERT_EQ(port.bulkOut(device, read, 1000).status, UsbStatus::done);
}

// The bus's rules through usbfs: what a URB leaves waits for the next, one that asks for more
// than the phone owes waits out its time with what it took, a packet larger than the room left
// overflows, and a phone that sends a zero-length packet after whole packets ends a larger URB.
TEST_F(LibusbPortTest, AReadAskingMoreThanOwedWaitsOutItsTimeAndAPacketPastTheRoomOverflows) {
    const DeviceHandle device = port.open(EmulatedPhone::kLocation);
    ASSERT_TRUE(device.valid());
    const Bytes flash = SimPhone::erasedFlashOf(1, 0x10000000, 0x80);
    requestFlash(port, device, 0x80);
    std::array<std::uint8_t, 4096> buffer{};
    const UsbTransfer first = port.bulkIn(device, std::span(buffer).first(64), 1000);
    EXPECT_EQ(first.status, UsbStatus::done);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + first.transferred),
              Bytes(flash.begin(), flash.begin() + 64));
    const auto start = Clock::now();
    const UsbTransfer rest = port.bulkIn(device, buffer, 300);
    EXPECT_EQ(rest.status, UsbStatus::timedOut);
    EXPECT_GE(since(start), milliseconds(300));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + rest.transferred),
              Bytes(flash.begin() + 64, flash.end()));

    requestFlash(port, device, 0x40);
    EXPECT_EQ(port.bulkIn(device, std::span(buffer).first(32), 1000).status, UsbStatus::overflow);

    phone.sendZeroLengthAfterWhole(true);
    requestFlash(port, device, 0x80);
    const UsbTransfer ended = port.bulkIn(device, buffer, 1000);
    EXPECT_EQ(ended.status, UsbStatus::done);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + ended.transferred), flash);
    EXPECT_EQ(phone.inUrbSizes(), (std::vector<std::uint32_t>{64, 64, 4096, 64, 32, 64, 4096}));
    port.close(device);
}

// A system without udev (a container, WSL, a minimal system) tells of no arrival and no departure:
// a phone plugged in after the port started, and pulled out again, is seen by the next look at
// the bus, talked to, and its removal noticed within a second.
TEST_F(LibusbPortTest, APhoneThatComesAndGoesWithoutAnyEventIsSeenAtTheNextLook) {
    EXPECT_EQ(port.listPhones(), std::vector<std::string>{EmulatedPhone::kLocation});
    auto later = std::make_unique<EmulatedPhone>(phone, 4, 0x25);  // sysfs only, no uevent
    std::vector<std::string> listed = port.listPhones();
    std::sort(listed.begin(), listed.end());  // in whatever order the system lists them
    EXPECT_EQ(listed, (std::vector<std::string>{EmulatedPhone::kLocation, "1-1.4"}));
    const DeviceHandle device = port.open("1-1.4");
    ASSERT_TRUE(device.valid());
    ASSERT_EQ(port.bulkOut(device, rqhwPacket, 1000).status, UsbStatus::done);
    std::array<std::uint8_t, 64> reply{};
    const UsbTransfer got = port.bulkIn(device, reply, 1000);
    SimPhone reference;
    reference.write(rqhwPacket);
    ASSERT_EQ(got.status, UsbStatus::done);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + got.transferred), reference.read(64));

    Clock::time_point noticedAt;
    watch = std::async(std::launch::async, [&] {
        const bool removed = port.waitForRemoval("1-1.4", {});
        noticedAt = Clock::now();
        return removed;
    });
    std::this_thread::sleep_for(milliseconds(300));
    const Clock::time_point pulledAt = Clock::now();
    later->vanish();
    ASSERT_EQ(watch.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_TRUE(watch.get());
    EXPECT_LT(noticedAt - pulledAt, std::chrono::seconds(1));
    EXPECT_EQ(port.bulkOut(device, rqhwPacket, 1000).status, UsbStatus::gone);
    port.close(device);
    EXPECT_EQ(port.listPhones(), std::vector<std::string>{EmulatedPhone::kLocation});
    EXPECT_EQ(port.openFailure("1-1.4"), UsbOpenFailure::gone);
    later.reset();
}

TEST_P(LibusbRemoval, NoticesRemovalWithinASecondAndEveryTransferAfterItEndsAtOnce) {
    const DeviceHandle device = port.open(EmulatedPhone::kLocation);
    ASSERT_TRUE(device.valid());
    Clock::time_point noticedAt;
    watch = std::async(std::launch::async, [&] {
        const bool removed = port.waitForRemoval(EmulatedPhone::kLocation, {});
        noticedAt = Clock::now();
        return removed;
    });
    // The watch is in place before the phone goes (a watch that starts late returns false).
    std::this_thread::sleep_for(milliseconds(300));
    phone.unplug();
    ASSERT_EQ(watch.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_TRUE(watch.get());
    ASSERT_TRUE(phone.unpluggedAt());
    EXPECT_LT(noticedAt - *phone.unpluggedAt(), std::chrono::seconds(1));
    // The removal is told before the device has left sysfs, as an event may come first.
    ASSERT_TRUE(phone.waitUntilUnplugged(std::chrono::seconds(2)));

    const auto start = Clock::now();
    std::array<std::uint8_t, 64> buffer{};
    EXPECT_EQ(port.bulkOut(device, rqhwPacket, 5000).status, UsbStatus::gone);
    EXPECT_EQ(port.bulkIn(device, buffer, 5000).status, UsbStatus::gone);
    EXPECT_EQ(port.stringDescriptor(device, UsbString::product, buffer).status, UsbStatus::gone);
    EXPECT_LT(since(start), milliseconds(500));
    EXPECT_TRUE(port.listPhones().empty());
    EXPECT_FALSE(port.waitForRemoval(EmulatedPhone::kLocation, {}));
    EXPECT_EQ(port.open(EmulatedPhone::kLocation), kInvalidDevice);
    port.close(device);
}

// Its owner's stop ends the wait at once with false, the phone still attached, whichever way the
// removal is watched; the owner can then join the thread that waited.
TEST_P(LibusbRemoval, AStoppedWaitEndsAtOnceWithThePhoneStillThere) {
    StopSource stop;
    watch = std::async(std::launch::async,
                       [&] { return port.waitForRemoval(EmulatedPhone::kLocation, stop.token()); });
    std::this_thread::sleep_for(milliseconds(300));
    ASSERT_EQ(watch.wait_for(milliseconds(0)), std::future_status::timeout);
    const auto asked = Clock::now();
    stop.requestStop();
    ASSERT_EQ(watch.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_FALSE(watch.get());
    EXPECT_LT(since(asked), milliseconds(100));
    EXPECT_EQ(port.listPhones(), std::vector<std::string>{EmulatedPhone::kLocation});
    EXPECT_FALSE(port.waitForRemoval(EmulatedPhone::kLocation, stop.token()));
}

INSTANTIATE_TEST_SUITE_P(Notice, LibusbRemoval,
                         ::testing::Values(RemovalNotice::hotplug, RemovalNotice::polling),
                         [](const ::testing::TestParamInfo<RemovalNotice>& info) {
                             return info.param == RemovalNotice::hotplug ? "Hotplug" : "Polling";
                         });

}  // namespace
}  // namespace norvale::usb_testing
