// Arrival and removal under faults, with the programs' wiring: the monitor on its thread, the
// dialog's UI thread and command workers. A phone pulled while it is being identified, pulled
// under a command, or plugged back while a command is still stuck on the old connection: each is
// shown as it happened, leaves one open handle, and the next command works.
#include <gtest/gtest.h>

#include <algorithm>

#include "integration/OperationsRig.h"
#include "integration/PresenceRig.h"
#include "ui/resources/resource.h"

namespace norvale {
namespace {

using namespace presence_testing;
using testing::fileBytes;
using testing::patternImage;
using testing::putFile;

constexpr std::uint32_t kFirstBootstrapTransfers = 16;  // 3000-byte loader, 100-byte jump image

class PresenceFaults : public MonitoredDialog {
protected:
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
    EXPECT_EQ(rig.view.entries(), joined({arrivalAt(1000, transfer <= 2 ? "" : "0C60", ""),
                                          removalAt(1000), arrivalAt(7000)}));
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
    EXPECT_EQ(lines,
              joined({arrival(), bootstrap(), {text::kWritingData.str()}, removal(), arrival()}));
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
                             bootstrap(),
                             {text::kReadingBlock.str() + "PDS.bin\r\n"},
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
