// The monitor's states and timing on the virtual clock, alone and with the dialog and a worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "integration/OperationsRig.h"
#include "integration/PresenceRig.h"
#include "presence/ConnectionMonitor.h"
#include "protocol/CommandFormats.h"
#include "ui/resources/resource.h"

namespace norvale {
namespace {

using namespace presence_testing;
using testing::written;
using testing::writtenHex;
using State = ConnectionMonitor::State;
using namespace std::chrono_literals;

// A removal watch whose key can never be opened; it remembers the keys it was asked for.
class UnopenableWatch final : public RemovalWatch {
public:
    bool waitForChange(const std::string& keyPath, StopToken /*stop*/) override {
        keys.push_back(keyPath);
        return false;
    }
    std::vector<std::string> keys;
};

// The monitor stepped on the test's own thread: every notification is noted with its time.
class MonitorSteps : public ::testing::Test {
protected:
    MonitorSteps() : sim(SimPlatform::Phone::none) {
        screen.setPresenceHandler(
            [this](std::uintptr_t wParam) { notes.emplace_back(wParam, sim.clock.now()); });
    }

    SimPlatform sim;
    UnopenableWatch watch;
    Platform platform{sim.driver, sim.driver,  watch,     sim.driver,
                      sim.files,  sim.chooser, sim.clock, sim.threads};
    MemoryDialogView screen;
    ConnectionMonitor monitor{platform, screen};
    std::vector<std::pair<std::uintptr_t, std::uint64_t>> notes;
};

TEST_F(MonitorSteps, ScansOnceASecondWhileNoPhoneIsThere) {
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(monitor.step(), State::scanning);
        EXPECT_EQ(sim.clock.now(), 1000u * i);
    }
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(sim.driver.counters().setsOpened, 3u);
    EXPECT_EQ(sim.driver.counters().liveSets, 0u);
}

TEST_F(MonitorSteps, AKeyThatCantBeWatchedCountsAsARemovalAndThePhoneComesBackEverySixSeconds) {
    const SimInterfaceId phone = sim.driver.attach();

    const State expected[] = {State::announcing, State::watching,   State::removing, State::pausing,
                              State::scanning,   State::announcing, State::watching};
    for (State state : expected) EXPECT_EQ(monitor.step(), state);

    EXPECT_EQ(notes, (std::vector<std::pair<std::uintptr_t, std::uint64_t>>{
                         {1, 1000}, {0, 1000}, {1, 7000}}));
    // The key is the one the system keeps the watched interface under.
    EXPECT_EQ(watch.keys, std::vector<std::string>{sim.driver.registryKeyOf(phone)});
    EXPECT_EQ(sim.driver.counters().liveHandles, 0u);
}

// The programs' wiring: the dialog starts the monitor on its own thread and hands its
// notifications to the product's arrival and removal handling.
class MonitorStory : public MonitoredDialog {
protected:
    using MonitoredDialog::MonitoredDialog;

    // The journal once it holds `count` entries (or whatever it holds after 10 s).
    std::vector<std::string> journalOf(std::size_t count) const {
        waitUntil([&] { return rig.view.entries().size() >= count; });
        return rig.view.entries();
    }
};

TEST_F(MonitorStory, AnnouncesTheAttachedPhoneAfterASecondAndAReattachOnlyAfterThePause) {
    start();
    EXPECT_EQ(journalOf(5), arrivalAt(1000));
    EXPECT_TRUE(rig.state.connected);

    // Unplugged, and plugged in again at once, while the removal is being shown.
    ASSERT_TRUE(rig.sim.driver.waitForWatchers(1, 10s));
    reattachOnRemoval = true;
    rig.sim.driver.detach(rig.sim.phoneId);
    EXPECT_EQ(journalOf(13), joined({arrivalAt(1000), removalAt(1000), arrivalAt(7000)}));

    // The second connection's handle replaced the first, which was closed.
    EXPECT_EQ(rig.sim.driver.counters().liveHandles, 1u);
    EXPECT_EQ(rig.sim.driver.counters().badHandleCloses, 0u);
}

class MonitorStoryWithoutPhone : public MonitorStory {
protected:
    MonitorStoryWithoutPhone() : MonitorStory(SimPlatform::Phone::none) {}
};

TEST_F(MonitorStoryWithoutPhone, APhonePluggedInWhileScanningIsAnnouncedAfterTheNextScan) {
    attachAt = 3000;
    start();
    EXPECT_EQ(journalOf(5), arrivalAt(4000));
}

TEST_F(MonitorStoryWithoutPhone, WithTwoPhonesTheFirstOfEachKindIsWatchedAndOpened) {
    // The first interface names the flash interface but isn't a phone in flash mode to the
    // scan; the second is both.
    SimInterfaceOptions notScanned;
    notScanned.manufacturerString = "Acme";
    const SimInterfaceId opened =
        rig.sim.driver.attach(notScanned, std::make_shared<SimPhone>(SimPhoneOptions{"AAAA"}));
    const SimInterfaceId watched =
        rig.sim.driver.attach({}, std::make_shared<SimPhone>(SimPhoneOptions{"BBBB"}));
    start();
    EXPECT_EQ(journalOf(5), arrivalAt(1000, "AAAA"));

    ASSERT_TRUE(rig.sim.driver.waitForWatchers(1, 10s));
    rig.sim.driver.detach(opened);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(rig.sim.driver.watchersWaiting(), 1u);  // not the watched phone
    EXPECT_EQ(rig.view.entries().size(), 5u);

    rig.sim.driver.detach(watched);
    EXPECT_EQ(journalOf(8), joined({arrivalAt(1000, "AAAA"), removalAt(1000)}));
}

// A command worker, the monitor and the UI thread at once: the phone leaves flash mode under a
// command, so the removal is shown while the worker may still be logging.
using MonitorStoryWithCommands = MonitorStory;

TEST_F(MonitorStoryWithCommands, StartingThePhoneEndsItsConnection) {
    start();
    ASSERT_TRUE(waitForArrivals(1));
    click(IDC_START_PHONE);
    ASSERT_TRUE(waitUntilIdle());
    // The status is set last in the removal handling: once it shows, both lines are in.
    waitUntil([&] { return rig.screen.statusText() == text::kStatusDisconnected.view(); });

    std::vector<std::string> lines = logLines();
    ASSERT_GE(lines.size(), 10u);
    // Whichever of the worker's last line and the removal came first, each is whole and in order.
    const auto removed = std::find(lines.begin(), lines.end(), text::kPhoneDisconnected.str());
    ASSERT_NE(removed, lines.end());
    ASSERT_LT(removed + 1, lines.end());
    EXPECT_EQ(*(removed + 1), "\r\n");
    lines.erase(removed, removed + 2);
    EXPECT_EQ(lines,
              joined({arrival(), bootstrap(), {text::kStartingPhone.str(), text::kSuccess.str()}}));
    EXPECT_FALSE(rig.state.connected);
}

// The dialog's second arrival end to end: the operator starts the phone, it reboots into flash
// mode and is seen again. Having just booted it holds nothing in RAM, so its next command puts
// loader.bin at 03FD0000 again and then the jump image, as the first did.
TEST_F(MonitorStoryWithCommands, AStartedPhoneThatComesBackGetsTheWholeBootstrapAgain) {
    rig.sim.driver.returnAfterStart(3000);
    start();
    ASSERT_TRUE(waitForArrivals(1));
    click(IDC_START_PHONE);
    ASSERT_TRUE(waitUntilIdle());
    ASSERT_TRUE(waitForArrivals(2));
    click(IDC_BLANK_MODE);
    ASSERT_TRUE(waitUntilIdle());
    ASSERT_TRUE(rig.screen.waitForLog(text::kSettingBlank.view(), 10s));

    std::vector<std::string> lines = logLines();
    // The start's last line and the removal may come in either order; the rest is in order.
    const auto removed = std::find(lines.begin(), lines.end(), text::kPhoneDisconnected.str());
    ASSERT_NE(removed, lines.end());
    lines.erase(removed, removed + 2);
    EXPECT_EQ(lines, joined({arrival(),
                             bootstrap(),
                             {text::kStartingPhone.str(), text::kSuccess.str()},
                             arrival(),
                             bootstrap(),
                             {text::kSettingBlank.str()}}));

    // Where each upload went, and the jump image's packet: the same for both arrivals.
    const auto addr = [](std::uint32_t address) { return written(buildAddrPacket(address)); };
    const std::string jump = written(buildBinPacket(Bytes(100, 0x22)));
    const std::string anyAddr = writtenHex("02414444521e");  // STX "ADDR" RS
    std::vector<std::string> uploads;
    for (const std::string& transfer : rig.sim.driver.trace()) {
        if (transfer.rfind(anyAddr, 0) == 0 || transfer == jump) {
            uploads.push_back(transfer);
        }
    }
    const std::vector<std::string> whole{addr(0x03FD0000), addr(0x03FD0800), addr(0x03FEF800),
                                         jump};
    EXPECT_EQ(uploads, joined({whole, whole}));
}

TEST_F(MonitorStoryWithCommands, AnUnplugUnderACommandIsShownAndTheNextConnectionWorks) {
    start();
    ASSERT_TRUE(waitForArrivals(1));
    reattachOnRemoval = true;
    rig.sim.driver.addFault(SimFaultKind::unplug, rig.sim.driver.pipeTransfers() + 3);
    click(IDC_BLANK_MODE);
    ASSERT_TRUE(waitUntilIdle());
    const std::string failure = text::errorLine(text::kNoAnswerFromPhone);
    EXPECT_TRUE(rig.screen.waitForLog(failure, 10s));

    // The removal, then the phone back after the pause, on a new handle; the worker's old one
    // was closed when both it and the session had let go. The worker's error line may come
    // anywhere after the loader line.
    std::vector<std::string> lines;
    waitUntil([&] { return (lines = logLines()).size() >= 12; });
    const auto error = std::find(lines.begin(), lines.end(), failure);
    ASSERT_NE(error, lines.end());
    EXPECT_GT(error - lines.begin(), 4);
    lines.erase(error);
    EXPECT_EQ(lines, joined({arrival(), {text::kSendingLoader.str()}, removal(), arrival()}));
    EXPECT_TRUE(rig.state.connected);
    EXPECT_EQ(rig.screen.statusText(), text::kStatusConnected.str());
    EXPECT_EQ(rig.sim.driver.counters().liveHandles, 1u);

    click(IDC_BLANK_MODE);
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_TRUE(rig.screen.waitForLog(text::kSettingBlank.view(), 10s));
}

}  // namespace
}  // namespace norvale
