// Two phones on one hub through real libusb, each served by a session of its own at the same time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <optional>
#include <thread>

#include "EmulatedPhone.h"
#include "StoryRig.h"
#include "core/OperatorTexts.h"
#include "integration/PhonesRig.h"
#include "operations/FlashRangeReader.h"
#include "platform/libusb/LibusbPort.h"
#include "presence/AttachedPhones.h"
#include "presence/PhoneWatcher.h"
#include "protocol/CommandFormats.h"
#include "protocol/UsbPhoneLink.h"

namespace norvale::usb_testing {
namespace {

using std::chrono::milliseconds;

// One phone's session over the shared port: its own log, state and worker.
struct UsbSession {
    UsbSession(StoryRig& rig, UsbPort& port, const std::string& location)
        : location(location), platform{rig.driver, rig.driver,  rig.driver, port,
                                       rig.files,  rig.chooser, rig.clock,  rig.threads} {
        handleArrivalOf(services, openAttachedPhone(platform, AttachedPhone::onUsb(location)));
    }
    ~UsbSession() { state.device.store(nullptr); }

    std::string location;
    MemoryDialogView view;
    LineLog log{view};
    Platform platform;
    SessionState state;
    Services services{state, log, platform, view};
    CommandOutcome outcome;
};

constexpr std::uint32_t kStart = 0x10000000;
constexpr std::uint32_t kEnd = 0x1003FFFF;  // 256 KB: 64 replies
constexpr std::size_t kTwoReplies = 2 * 4096;

// A shop's two phones on one hub are backed up at once; the second is pulled out during its
// read. Its session ends with its one error line and keeps what arrived as .part; the first
// phone's dump is whole and holds that phone's flash, byte for byte.
TEST(UsbStation, OnePhonePulledOutMidReadLeavesTheOtherPhonesDumpWhole) {
    ASSERT_TRUE(underUmockdevWrapper()) << "run the suite under umockdev-wrapper";
    EmulatedPhone first;
    EmulatedPhone second(first, 4, SimPhone::erasedFlashMaskOf(2));
    LibusbPort port;
    ASSERT_TRUE(port.available());
    StoryRig rig(&port);
    std::vector<std::string> listed = port.listPhones();
    std::sort(listed.begin(), listed.end());  // in the bus's order, which libusb does not fix
    ASSERT_EQ(listed, (std::vector<std::string>{"1-1.3", "1-1.4"}));

    UsbSession sessions[2]{{rig, port, first.location()}, {rig, port, second.location()}};
    std::thread workers[2];
    for (unsigned k = 0; k < 2; ++k) {
        UsbSession& session = sessions[k];
        const std::string name = "backup-" + std::to_string(k + 1) + ".bin";
        EmulatedPhone& phone = k == 0 ? first : second;
        workers[k] = std::thread([&session, &phone, name, k] {
            session.state.busy = true;
            session.outcome = runCommandWorker(session.services, [&](CommandContext& command) {
                // The read request, then two replies; the phone goes at the third.
                if (k == 1) phone.addFault(UrbFault::unplug, phone.bulkUrbs() + 4);
                readRangeToNamedFile(command, kStart, kEnd, name);
            });
        });
    }
    for (std::thread& worker : workers) worker.join();

    EXPECT_FALSE(sessions[0].outcome.failed);
    EXPECT_EQ(sessions[0].log.lines().back(), text::kSuccess.view());
    EXPECT_EQ(norvale::testing::fileBytes("backup-1.bin"),
              SimPhone::erasedFlashOf(1, kStart, kEnd - kStart + 1));

    const std::vector<std::string> lines = sessions[1].log.lines();
    EXPECT_TRUE(sessions[1].outcome.failed);
    EXPECT_EQ(lines.back(), text::errorLine(text::kNoAnswerFromPhone));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.starts_with(text::kErrorPrefix.view());
                            }),
              1);
    EXPECT_EQ(norvale::testing::fileBytes("backup-2.bin.part"),
              SimPhone::erasedFlashOf(2, kStart, kTwoReplies));
    EXPECT_FALSE(std::filesystem::exists("backup-2.bin"));

    ASSERT_TRUE(second.waitUntilUnplugged(milliseconds(1000)));
    EXPECT_EQ(port.listPhones(), (std::vector<std::string>{"1-1.3"}));
    EXPECT_FALSE(first.unpluggedAt().has_value());
}

// libusb_init as a system may answer it: refused while `initRefused` is set (no usbfs yet at boot).
std::atomic<bool> initRefused{false};
std::atomic<int> initCalls{0};
int flakyInit(libusb_context** context) {
    ++initCalls;
    if (initRefused.load()) return LIBUSB_ERROR_OTHER;
    return libusb_init(context);
}

// A station's watcher over real libusb: every arrival gets a session of its own, and what it
// reports is kept as "+N location", "-N location" and "unread".
class UsbDay : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(underUmockdevWrapper()) << "run under umockdev-wrapper"; }

    std::vector<std::string> events() {
        const std::lock_guard lock(mutex);
        return events_;
    }
    void note(std::string event) {
        const std::lock_guard lock(mutex);
        events_.push_back(std::move(event));
        noted.notify_all();
    }
    bool waitForEvents(std::size_t count) {
        std::unique_lock lock(mutex);
        return noted.wait_for(lock, std::chrono::seconds(2),
                              [&] { return events_.size() >= count; });
    }
    // The watcher and the sessions it made, both gone before the port and the phones of the
    // test that declared it after them.
    struct Watch {
        UsbDay& day;
        std::unique_ptr<PhoneWatcher> watcher;
        ~Watch() {
            watcher.reset();
            day.sessions.clear();
        }
        PhoneWatcher* operator->() { return watcher.get(); }
    };
    Watch watch(StoryRig& rig, UsbPort& port) {
        return {*this,
                std::make_unique<PhoneWatcher>(
                    rig.platform,
                    [this, &rig, &port](const WatchedPhone& watched) {
                        auto session =
                            std::make_unique<UsbSession>(rig, port, watched.phone.location);
                        SessionState* state = &session->state;
                        note("+" + std::to_string(watched.arrival) + " " + watched.phone.location);
                        const std::lock_guard lock(mutex);
                        sessions.push_back(std::move(session));
                        return std::shared_ptr<SessionState>(std::shared_ptr<void>{}, state);
                    },
                    [this](const WatchedPhone& watched) {
                        note("-" + std::to_string(watched.arrival) + " " + watched.phone.location);
                    },
                    [this] { note("unread"); })};
    }
    // The events from `from` on, ordered by location (arrivals in one scan come in the bus's
    // order, which libusb does not fix).
    std::vector<std::string> byLocation(std::size_t from) {
        std::vector<std::string> seen = events();
        std::sort(seen.begin() + static_cast<std::ptrdiff_t>(from), seen.end(),
                  [](const std::string& a, const std::string& b) {
                      return a.substr(a.find(' ')) < b.substr(b.find(' '));
                  });
        return seen;
    }

    std::mutex mutex;
    std::condition_variable noted;
    std::vector<std::string> events_;
    std::vector<std::unique_ptr<UsbSession>> sessions;  // declared before the watcher goes
};

// libusb can't start at first, later the bus can't be read for a while: the watcher says so once
// each time, keeps both phones and their sessions through it, and takes no phone for new.
TEST_F(UsbDay, ABusThatCantBeReadIsSaidOnceAndKeepsEverySession) {
    initRefused = true;
    EmulatedPhone first;
    EmulatedPhone second(first, 4, SimPhone::erasedFlashMaskOf(2));
    LibusbPort port(RemovalNotice::hotplug, &flakyInit);
    EXPECT_FALSE(port.available());
    StoryRig rig(&port);
    auto watcher = watch(rig, port);
    watcher->scan();
    watcher->scan();
    EXPECT_EQ(events(), (std::vector<std::string>{"unread"}));

    initRefused = false;  // started at the next look
    watcher->scan();
    const std::vector<std::string> arrived = byLocation(1);
    ASSERT_EQ(arrived.size(), 3u);
    EXPECT_EQ(arrived[0], "unread");
    EXPECT_TRUE(arrived[1].ends_with(" 1-1.3") && arrived[2].ends_with(" 1-1.4"));

    initRefused = true;
    watcher->scan();
    // The one watch of the bus looks too, and finds it unread as well.
    const int calls = initCalls.load();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (initCalls.load() < calls + 2 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_GE(initCalls.load(), calls + 2);
    initRefused = false;
    watcher->scan();
    EXPECT_EQ(events().size(), 4u);
    EXPECT_EQ(events().back(), "unread");
    EXPECT_EQ(watcher->watching(), 2u);
    for (const auto& session : sessions) {
        EXPECT_TRUE(session->state.connected.load());
        EXPECT_TRUE(session->state.device.load()->handle().valid());
    }
}

// Without udev's events: a phone leaves, its number goes to another phone at another socket, and
// a third is put into the first one's socket at once. The port's own context still lists the
// first at its old number; no open ever reaches the wrong phone, the watcher tells the first gone
// and the third new, and the third keeps its session.
TEST_F(UsbDay, NumbersComeRoundAndAQuickSwapOpenOnlyThePhoneAtTheSocket) {
    EmulatedPhone first;  // 1-1.3, number 3
    std::optional<EmulatedPhone> other;
    std::optional<EmulatedPhone> swapped;
    LibusbPort port;
    StoryRig rig(&port);
    auto watcher = watch(rig, port);
    watcher->scan();
    first.vanish();
    other.emplace(first, 4, SimPhone::erasedFlashMaskOf(2), 3);
    EXPECT_EQ(port.open("1-1.3"), kInvalidDevice);
    EXPECT_EQ(port.openFailure("1-1.3"), UsbOpenFailure::gone);
    EXPECT_TRUE(other->requests().empty());  // never opened for 1-1.3

    swapped.emplace(first, 3, SimPhone::erasedFlashMaskOf(3), 9);
    watcher->scan();
    const std::vector<std::string> seen = byLocation(2);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1], "-1 1-1.3");  // before any arrival of the same scan
    EXPECT_TRUE(seen[2].ends_with(" 1-1.3") && seen[3].ends_with(" 1-1.4"));
    ASSERT_EQ(sessions.size(), 3u);
    EXPECT_FALSE(sessions[0]->state.connected.load());
    const auto kept = std::find_if(sessions.begin() + 1, sessions.end(), [](const auto& session) {
        return session->location == "1-1.3";
    });
    ASSERT_NE(kept, sessions.end());
    EXPECT_TRUE((*kept)->state.connected.load());
    EXPECT_TRUE((*kept)->state.device.load()->handle().valid());
    EXPECT_EQ(swapped->requests().front(), "detach-and-claim 0");
}

// With udev's events: a phone is pulled out and another put into its socket at once, announced by
// its own "add" event, and only then comes the old phone's "remove" event. The watcher tells the
// old phone gone once and the new one new; the late event, which names the old phone's device,
// ends nothing of the new one's: not told gone, its session connected, its device open and
// answering.
TEST_F(UsbDay, ALateRemoveOfTheOldPhoneLeavesTheNewPhoneInItsSocket) {
    EmulatedPhone first;  // 1-1.3, number 3
    std::optional<EmulatedPhone> swapped;
    LibusbPort port;
    ASSERT_TRUE(port.hotplug());
    StoryRig rig(&port);
    auto watcher = watch(rig, port);
    watcher->scan();
    first.vanish();
    swapped.emplace(first, 3, SimPhone::erasedFlashMaskOf(3), 9);
    swapped->announce();
    watcher->scan();
    // The one watch may tell the departure as it looks at the arrival's notice, the scan the
    // arrival meanwhile.
    ASSERT_TRUE(waitForEvents(3));
    std::vector<std::string> seen = events();
    std::sort(seen.begin() + 1, seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"+1 1-1.3", "+2 1-1.3", "-1 1-1.3"}));

    const std::uint64_t departures = port.hotplugDepartures();
    first.sendLateRemove();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (port.hotplugDepartures() == departures && std::chrono::steady_clock::now() < until) {
        port.waitForBusChange({}, 100);
    }
    ASSERT_EQ(port.hotplugDepartures(), departures + 1);
    watcher->scan();
    EXPECT_EQ(events().size(), 3u);
    ASSERT_EQ(sessions.size(), 2u);
    const SessionState& kept = sessions[1]->state;
    EXPECT_TRUE(kept.connected.load());
    const DeviceHandle device = kept.device.load()->handle();
    ASSERT_TRUE(device.valid());
    EXPECT_EQ(swapped->requests(), (std::vector<std::string>{"detach-and-claim 0"}));
    const UsbPhoneLink link(port, rig.clock);
    ASSERT_TRUE(link.writePipe(device, 2, rqhwPacket, 1000));
    SimPhone reference;
    reference.write(rqhwPacket);
    EXPECT_EQ(link.readPipe(device, 2, 64, 1000).data, reference.read(64));
}

// A write the phone never takes fails at its wait time and resets the OUT pipe before the call
// returns; the next command goes through and gets its reply.
TEST_F(UsbDay, AFailedWriteResetsItsPipeAndTheNextCommandIsAnswered) {
    EmulatedPhone phone;
    LibusbPort port;
    StoryRig rig(&port);
    const UsbPhoneLink link(port, rig.clock);
    const DeviceHandle device = port.open(phone.location());
    ASSERT_TRUE(device.valid());
    phone.addFault(UrbFault::hang, phone.bulkUrbs() + 1);
    EXPECT_FALSE(link.writePipe(device, 2, rqhwPacket, 300));
    EXPECT_EQ(phone.requests(),
              (std::vector<std::string>{"detach-and-claim 0", "discard", "clear-halt 02"}));
    ASSERT_TRUE(link.writePipe(device, 2, rqhwPacket, 1000));
    SimPhone reference;
    reference.write(rqhwPacket);
    EXPECT_EQ(link.readPipe(device, 2, 64, 1000).data, reference.read(64));
    port.close(device);
}

}  // namespace
}  // namespace norvale::usb_testing
