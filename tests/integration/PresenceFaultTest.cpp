// Arrival and removal under faults, with the programs' wiring: the monitor on its thread, the
// dialog's UI thread and command workers. A phone pulled while it is being identified, pulled
// under a command, or plugged back while a command is still stuck on the old connection: each is
// shown as it happened, leaves one open handle, and the next command works.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "OperationsRig.h"
#include "integration/PresenceRig.h"
#include "presence/ConnectionMonitor.h"
#include "ui/MainDialog.h"
#include "ui/resources/resource.h"

namespace norvale {
namespace {

using namespace presence_testing;
using namespace std::chrono_literals;
using testing::fileBytes;
using testing::patternImage;
using testing::putFile;

constexpr std::uint32_t kFirstBootstrapTransfers = 16;  // 3000-byte loader, 100-byte jump image

class PresenceFaults : public ::testing::Test {
protected:
    PresenceFaults() : controller(rig.services, productCommandBodies(), hooks()) {
        phone = rig.sim.driver.phone(rig.sim.phoneId);
        std::filesystem::create_directory("bin");
        putFile("bin/loader.bin", patternImage(3000, 0x11));
        putFile("bin/LTE2_jump.bin", patternImage(100, 0x22));
        putFile("bin/ram.bin", patternImage(2048, 0x33));
        rig.folder.put("KESTRIN.ini", "CG1ADR=100A0000");
        rig.screen.setPresenceHandler([this](std::uintptr_t w) { controller.onPresence(w); });
        rig.sim.clock.setSleepHook([this](std::uint32_t ms) {
            // Only a hung transfer sleeps this long; the monitor's sleeps are 1 and 5 s.
            if (ms >= 20000) holdIfAsked();
            // Virtual seconds pass at once; this keeps a scanning monitor from spinning.
            std::this_thread::sleep_for(100us);
        });
    }
    ~PresenceFaults() override {
        stop = true;
        release();
        rig.sim.driver.detachAll();  // wakes a monitor in its removal watch
        rig.sim.threads.joinAll();
    }

    // The product's monitor, stepped until the test ends.
    PresenceHooks hooks() {
        PresenceHooks product = productPresenceHooks(rig.services);
        product.monitor = [this] {
            ConnectionMonitor monitor(rig.sim.platform, rig.view);
            while (!stop) monitor.step();
        };
        product.onRemoval = [this, removal = product.onRemoval] {
            removal();
            if (!reattachOnRemoval.exchange(false)) return;
            // Plugged back in, the phone starts afresh in flash mode; its flash is kept. Nothing
            // reaches it meanwhile: its old interface is gone and the new one not yet there.
            phone->powerCycle();
            rig.sim.driver.attach({}, phone);
        };
        return product;
    }

    void start() {
        rig.screen.runOnUiThread([this] { controller.onInitDialog(); });
    }
    void click(std::uintptr_t id) {
        rig.screen.runOnUiThread([&] { controller.onCommand(id); });
    }
    bool waitUntil(const std::function<bool()>& done) const {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    bool waitUntilIdle() const {
        return waitUntil([this] { return !rig.state.busy.load(); });
    }
    std::size_t count(std::string_view text) const {
        const std::string log = rig.screen.logText();
        std::size_t n = 0;
        for (std::size_t at = log.find(text); at != std::string::npos;
             at = log.find(text, at + 1)) {
            ++n;
        }
        return n;
    }
    // An arrival is shown once its last line is in.
    bool waitForArrivals(std::size_t n) const {
        return waitUntil([&] { return count(text::kCg1Start.view()) >= n; }) &&
               rig.sim.driver.waitForWatchers(1, 10s);
    }
    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        const std::string log = rig.screen.logText();
        for (std::size_t at = 0; at < log.size();) {
            const std::size_t end = log.find("\r\n", at);
            lines.push_back(log.substr(at, end - at + 2));
            at = end + 2;
        }
        return lines;
    }

    // A hung transfer of a worker can be held here until release(), so the test acts while the
    // command is known to be still running.
    void holdHungTransfers() {
        std::lock_guard lock(holdMutex);
        holding = true;
    }
    bool waitUntilHeld() {
        std::unique_lock lock(holdMutex);
        return holdChanged.wait_for(lock, 10s, [&] { return held; });
    }
    void release() {
        {
            std::lock_guard lock(holdMutex);
            holding = false;
        }
        holdChanged.notify_all();
    }
    void holdIfAsked() {
        std::unique_lock lock(holdMutex);
        if (!holding) return;
        held = true;
        holdChanged.notify_all();
        holdChanged.wait(lock, [&] { return !holding; });
    }

    static std::vector<std::string> arrival(std::string_view boot = "0C60",
                                            std::string_view mode = "FLASH ") {
        return {text::kPhoneConnected.str(), line(text::kBootVersion, boot),
                line(text::kMode, mode), line(text::kCg1Start, "100A0000")};
    }
    static std::vector<std::string> removal() { return {text::kPhoneDisconnected.str(), "\r\n"}; }
    static std::vector<std::string> joined(std::vector<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    }
    // Removes the worker's one error line, which may land anywhere after the loader line since
    // the worker and the monitor log at the same time; fails if it is not there exactly once.
    void takeErrorLine(std::vector<std::string>& lines, const std::string& error) {
        EXPECT_EQ(std::count(lines.begin(), lines.end(), error), 1) << "the error line";
        const auto found = std::find(lines.begin(), lines.end(), error);
        if (found != lines.end()) lines.erase(found);
    }
    void expectOneOpenHandle() {
        const SimEnumerationCounters counters = rig.sim.driver.counters();
        EXPECT_EQ(counters.liveHandles, 1u);
        EXPECT_EQ(counters.liveSets, 0u);
        EXPECT_EQ(counters.badHandleCloses, 0u);
        EXPECT_EQ(rig.sim.files.liveFiles(), 0u);
    }

    PresenceRig rig;
    std::shared_ptr<SimPhone> phone;
    std::atomic<bool> stop{false};
    std::atomic<bool> reattachOnRemoval{false};
    std::mutex holdMutex;
    std::condition_variable holdChanged;
    bool holding = false;
    bool held = false;
    MainDialog controller;
};

// The arrival's two exchanges are the first pipe transfers of the run: RQHW write and read,
// ENUM write and read. The phone goes at each in turn.
class UnplugWhileIdentifying : public PresenceFaults,
                               public ::testing::WithParamInterface<std::uint64_t> {};

TEST_P(UnplugWhileIdentifying, ShowsWhatArrivedThenTheRemovalThenThePhoneAgain) {
    const std::uint64_t transfer = GetParam();
    rig.sim.driver.addFault(SimFaultKind::unplug, transfer);
    reattachOnRemoval = true;
    start();
    ASSERT_TRUE(waitForArrivals(2));
    EXPECT_EQ(
        rig.view.entries(),
        joined({{logAt(1000, text::kPhoneConnected), statusAt(1000, text::kStatusConnected),
                 logAt(1000, line(text::kBootVersion, transfer <= 2 ? "" : "0C60")),
                 logAt(1000, line(text::kMode, "")), logAt(1000, line(text::kCg1Start, "100A0000")),
                 logAt(1000, text::kPhoneDisconnected), logAt(1000, "\r\n"),
                 statusAt(1000, text::kStatusDisconnected)},
                {logAt(7000, text::kPhoneConnected), statusAt(7000, text::kStatusConnected),
                 logAt(7000, line(text::kBootVersion, "0C60")),
                 logAt(7000, line(text::kMode, "FLASH ")),
                 logAt(7000, line(text::kCg1Start, "100A0000"))}}));
    expectOneOpenHandle();

    click(IDC_BLANK_MODE);
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(logLines().back(), text::kSettingBlank.str());
    EXPECT_TRUE(phone->blank());
    expectOneOpenHandle();
}

INSTANTIATE_TEST_SUITE_P(EachTransfer, UnplugWhileIdentifying, ::testing::Values(1, 2, 3, 4));

TEST_F(PresenceFaults, UnplugUnderAWriteIsShownOnceAndTheWriteAfterTheReattachWorks) {
    start();
    ASSERT_TRUE(waitForArrivals(1));
    const Bytes image = patternImage(0x10000, 0x66);
    putFile("pds.img", image);
    rig.sim.chooser.choose("pds.img");
    reattachOnRemoval = true;
    // The fifth chunk of the first block: after the bootstrap, 'F', the address and four chunks
    // with their replies.
    rig.sim.driver.addFault(SimFaultKind::unplug,
                            rig.sim.driver.pipeTransfers() + kFirstBootstrapTransfers + 2 + 8 + 1);
    click(IDC_WRITE_PDS);
    ASSERT_TRUE(waitUntilIdle());
    ASSERT_TRUE(waitForArrivals(2));

    std::vector<std::string> lines = logLines();
    takeErrorLine(lines, text::errorLine(text::kNoAnswerFromPhone));
    EXPECT_EQ(lines, joined({arrival(),
                             {text::kSendingLoader.str(), "JMP01\r\n", "RAM LOADER 1\r\n",
                              text::kWritingData.str()},
                             removal(),
                             arrival()}));
    expectOneOpenHandle();

    rig.sim.chooser.choose("pds.img");
    click(IDC_WRITE_PDS);
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(logLines().back(), text::kSuccess.str());
    EXPECT_EQ(phone->readFlash(0x10010000, 0x10000), image);
    expectOneOpenHandle();
}

TEST_F(PresenceFaults, AReattachWhileACommandIsStuckOnTheOldConnectionLeavesOneHandle) {
    start();
    ASSERT_TRUE(waitForArrivals(1));
    // The third reply of a PDS read hangs, and the worker is held in it.
    holdHungTransfers();
    rig.sim.driver.addFault(SimFaultKind::hang,
                            rig.sim.driver.pipeTransfers() + kFirstBootstrapTransfers + 1 + 3);
    click(IDC_READ_RANGE);
    ASSERT_TRUE(waitUntilHeld());

    // Pulled and plugged back while the worker still waits on the old handle: the arrival opens
    // a new one and asks the phone on it.
    reattachOnRemoval = true;
    rig.sim.driver.detach(rig.sim.phoneId);
    ASSERT_TRUE(waitForArrivals(2));
    EXPECT_TRUE(rig.state.busy.load()) << "the worker should still be running";
    EXPECT_EQ(rig.sim.driver.counters().liveHandles, 2u);
    click(IDC_BLANK_MODE);  // refused while busy: nothing starts, nothing is said
    EXPECT_EQ(logLines().back(), line(text::kCg1Start, "100A0000"));

    release();
    ASSERT_TRUE(waitUntilIdle());
    std::vector<std::string> lines = logLines();
    takeErrorLine(lines, text::errorLine(text::kNoAnswerFromPhone));
    EXPECT_EQ(lines, joined({arrival(),
                             {text::kSendingLoader.str(), "JMP01\r\n", "RAM LOADER 1\r\n",
                              text::kReadingBlock.str() + "PDS.bin\r\n"},
                             removal(),
                             arrival()}));
    // The two replies that came are in the dump, closed and under ".part"; the old handle went
    // with the worker.
    EXPECT_EQ(fileBytes("PDS.bin.part"), phone->readFlash(0x10010000, 0x2000));
    EXPECT_FALSE(std::filesystem::exists("PDS.bin"));
    expectOneOpenHandle();

    // The next command runs on the new connection.
    rig.view.setFieldText(AddressField::start, "10020000");
    rig.view.setFieldText(AddressField::end, "1003FFFF");
    click(IDC_READ_RANGE);
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(logLines().back(), text::kSuccess.str());
    EXPECT_EQ(fileBytes("Panic.bin"), phone->readFlash(0x10020000, 0x20000));
    expectOneOpenHandle();
}

}  // namespace
}  // namespace norvale
