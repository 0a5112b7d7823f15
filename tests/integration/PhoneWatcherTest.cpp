// The watcher of a station: every phone that arrives and leaves, on both roads, told apart.
#include <gtest/gtest.h>

#include <mutex>

#include "integration/PhonesRig.h"
#include "operations/PhoneControl.h"
#include "presence/PhoneWatcher.h"

namespace norvale::presence_testing {
namespace {

using Events = std::vector<std::string>;

class PhoneWatcherStory : public ::testing::Test {
protected:
    PhoneWatcherStory() { putLoaderImages(folder); }

    // What the watcher reported so far, as "+N location" for arrival N and "-N location".
    Events events() const {
        std::lock_guard lock(mutex);
        return events_;
    }
    bool waitForEvents(std::size_t n) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (events().size() < n) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    PhoneSession& session(std::size_t arrival) {
        std::lock_guard lock(mutex);
        return *sessions.at(arrival - 1);
    }

    ScratchFolder folder;
    SimPlatform sim{SimPlatform::Phone::none};
    mutable std::mutex mutex;
    Events events_;
    std::vector<std::shared_ptr<PhoneSession>> sessions;
    // Every arrival gets a session of its own, as a station gives it.
    PhoneWatcher watcher{
        sim.platform,
        [this](const WatchedPhone& watched) {
            auto session = std::make_shared<PhoneSession>(sim);
            session->arrive(watched.phone);
            std::lock_guard lock(mutex);
            events_.push_back("+" + std::to_string(watched.arrival) + " " + watched.phone.location);
            sessions.push_back(session);
            return std::shared_ptr<SessionState>(session, &session->state);
        },
        [this](const WatchedPhone& watched) {
            std::lock_guard lock(mutex);
            events_.push_back("-" + std::to_string(watched.arrival) + " " + watched.phone.location);
        }};
};

// Three phones: one on the USB road that is started and comes back, one on the maker's driver
// that is pulled out, and a third on the driver that is plugged in later. Each arrival is its
// own, a phone coming back included, and each removal reaches the session of that arrival only.
TEST_F(PhoneWatcherStory, ThreePhonesOneRemovedOneLaterOneBackAfterStart) {
    const std::string driverPath2 = "\\\\?\\usb#vid_22b8&pid_4903#sim-2#{4e1e1e15-52d7-11d4-"
                                    "852d-00105aa6f80b}";
    const std::string driverPath3 = "\\\\?\\usb#vid_22b8&pid_4903#sim-3#{4e1e1e15-52d7-11d4-"
                                    "852d-00105aa6f80b}";
    SimInterfaceOptions first;
    first.road = Road::usb;
    first.devicePath = "sim-1";
    SimInterfaceOptions second;
    second.devicePath = driverPath2;
    SimInterfaceOptions third;
    third.devicePath = driverPath3;
    const SimInterfaceId one = sim.driver.attach(first);
    const SimInterfaceId two = sim.driver.attach(second);
    sim.driver.attachAt(1500, third);
    sim.driver.returnAfterStart(2000);

    watcher.scan();
    EXPECT_EQ(events(), (Events{"+1 " + driverPath2, "+2 sim-1"}));
    EXPECT_TRUE(session(1).state.connected);
    EXPECT_TRUE(session(2).state.connected);

    // Pulled out: its removal notice tells the watcher, without a scan.
    sim.driver.detach(two);
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(events().back(), "-1 " + driverPath2);
    EXPECT_FALSE(session(1).state.connected);
    EXPECT_TRUE(session(2).state.connected);

    sim.clock.sleep(1500);
    watcher.scan();
    EXPECT_EQ(events().back(), "+3 " + driverPath3);
    EXPECT_EQ(watcher.watching(), 2u);

    // Started, the phone leaves flash mode; 2 s later it is back as a phone that just booted.
    EXPECT_FALSE(session(2).run(startPhone).failed);
    ASSERT_TRUE(waitForEvents(5));
    EXPECT_EQ(events().back(), "-2 sim-1");
    EXPECT_FALSE(session(2).state.connected);
    watcher.scan();
    EXPECT_EQ(events().size(), 5u) << "back too early";
    sim.clock.sleep(2000);
    watcher.scan();
    EXPECT_EQ(events(), (Events{"+1 " + driverPath2, "+2 sim-1", "-1 " + driverPath2,
                                "+3 " + driverPath3, "-2 sim-1", "+4 sim-1"}));

    // The new arrival's first command sends the jump image again: twice on phone 1's own trace.
    EXPECT_FALSE(session(4).run([](CommandContext&) {}).failed);
    const std::vector<std::string> trace = sim.driver.traceOf(sim.driver.phoneNumber(one));
    const std::string jumpPacket = "W 2 0242494e1e0064" + std::string(200, '2');
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                            [&](const std::string& line) { return line.starts_with(jumpPacket); }),
              2);
    EXPECT_TRUE(session(3).state.connected);
    EXPECT_TRUE(session(4).state.connected);
}

// A watcher that goes while its phones stay attached stops their removal waits and waits for
// their threads: nothing of it is left waiting on the platform, and a later removal tells no one.
TEST_F(PhoneWatcherStory, GoingStopsTheRemovalWaitsAndJoinsTheirThreads) {
    SimInterfaceOptions onBus;
    onBus.road = Road::usb;
    onBus.devicePath = "sim-1";
    SimInterfaceOptions onDriver;
    onDriver.devicePath =
        "\\\\?\\usb#vid_22b8&pid_4903#sim-2#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";
    const SimInterfaceId one = sim.driver.attach(onBus);
    sim.driver.attach(onDriver);
    {
        PhoneWatcher going(
            sim.platform, [](const WatchedPhone&) { return std::shared_ptr<SessionState>(); },
            [this](const WatchedPhone& watched) {
                std::lock_guard lock(mutex);
                events_.push_back("-" + std::to_string(watched.arrival));
            });
        going.scan();
        EXPECT_EQ(going.watching(), 2u);
        ASSERT_TRUE(sim.driver.waitForWatchers(2, std::chrono::seconds(10)));
    }
    EXPECT_EQ(sim.driver.watchersWaiting(), 0u);
    EXPECT_EQ(sim.threads.started(), 2u);
    sim.driver.detach(one);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(events(), Events{});
}

}  // namespace
}  // namespace norvale::presence_testing
