// The station window's controller over the real engine and simulated phones, as the operator
// meets it through the view: the rows through a chain with one phone unplugged, Stop in the
// middle of a read, closing while phones are served, a journal that can't be written, and the
// settings kept for the next start.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "StationRig.h"
#include "station/StationEngine.h"
#include "ui/StationRowText.h"
#include "ui/StationWindowController.h"
#include "ui/resources/resource.h"
#include "unit/FakeStationView.h"

namespace norvale {
namespace {

using testing::FakeStationView;
using testing::kStationTime;
using testing::MemorySettings;
using testing::StationRig;

// A window over `rig`'s phones: the controller as the programs make it, the view and settings
// kept in memory. The timer is the test's: tick() is one WM_TIMER.
class StationWindow {
public:
    explicit StationWindow(StationRig& rig)
        : rig_(rig),
          bindings_{rig.cli.files, rig.cli.clock, rig.cli.threads,
                    [&rig](bool) {
                        return std::make_shared<PhoneRoads>(PhoneRoads{
                            rig.cli.driver, rig.cli.driver, rig.cli.driver, rig.cli.driver});
                    },
                    [](std::string_view text) { return std::string(text); }, Language::english,
                    [] { return kStationTime; },
                    // The folder the operator chose is the test's own ("."): entering it is
                    // only noted, so the test process keeps its working folder.
                    [this](const std::string& folder) {
                        enteredFolders.push_back(folder);
                        return true;
                    }} {
        view.folderHere = ".";
    }
    ~StationWindow() {
        // As the window's end: the controller goes, joining the engine's worker; then the
        // phones are pulled out, so every watch thread ends.
        controller_.reset();
        rig_.cli.driver.detachAll();
        rig_.cli.threads.joinAll();
    }

    StationWindowController& controller() {
        if (!controller_) {
            controller_ = std::make_unique<StationWindowController>(
                view, settings,
                [this](const StationPlan& plan) {
                    plans.push_back(plan);
                    return std::make_unique<StationEngine>(bindings_, plan);
                },
                Language::english, true);
            controller_->onInit();
        }
        return *controller_;
    }

    // Timer ticks until `done`, a little real time apart.
    template <class Predicate>
    bool tickUntil(Predicate done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            controller().onTimer();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    bool tickUntilEnded() {
        return tickUntil([this] { return !controller().running(); });
    }

    FakeStationView view;
    MemorySettings settings;
    std::vector<std::string> enteredFolders;  // by the engine's worker, read after it ended
    std::vector<StationPlan> plans;           // each Start's, as the engine got it

private:
    StationRig& rig_;
    StationBindings bindings_;
    std::unique_ptr<StationWindowController> controller_;
};

std::string cellOf(const StationRowCells& row, StationColumn column) {
    return row.cells[static_cast<std::size_t>(column)];
}

TEST(StationWindowStory, ThreePhonesThroughTheChainTwoDoneAndTheUnpluggedOneFailed) {
    StationRig rig(3);
    rig.cli.driver.addFault(rig.number(2), SimFaultKind::unplug, 60);
    StationWindow window(rig);
    StationWindowController& controller = window.controller();
    FakeStationView& view = window.view;

    controller.onCommand(IDC_ST_BACKUP);
    controller.onCommand(IDC_ST_START_PHONE);
    view.texts[IDC_ST_JOURNAL] = "line.jsonl";
    controller.onJournalEdited();
    EXPECT_EQ(view.texts[IDC_ST_COMMAND_LINE],
              "norvale-cli --station --sim --dir . --journal line.jsonl backup start");

    controller.onCommand(IDC_ST_START);
    ASSERT_TRUE(controller.running());
    EXPECT_EQ(view.timerMs, StationWindowController::kRedrawMs);
    // While phones are served the chain stays as it is, whatever is clicked.
    EXPECT_FALSE(view.isEnabled(IDC_ST_BACKUP));
    EXPECT_FALSE(view.isEnabled(IDC_ST_START));
    EXPECT_TRUE(view.isEnabled(IDC_ST_STOP));
    controller.onCommand(IDC_ST_BLANK);
    EXPECT_EQ(view.steps, (std::vector<std::string>{"backup", "start"}));

    ASSERT_TRUE(window.tickUntil([&] {
        return view.rows.size() == 3 &&
               std::none_of(view.rows.begin(), view.rows.end(), [](const StationRowCells& row) {
                   return row.look == StationRowCells::Look::running;
               });
    }));
    // A station watches for more phones until it is stopped.
    EXPECT_TRUE(controller.running());
    controller.onCommand(IDC_ST_STOP);
    ASSERT_TRUE(window.tickUntilEnded());
    std::vector<StationRowCells> rows = view.rows;
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return a.cells[0] < b.cells[0]; });
    for (const unsigned k : {1u, 3u}) {
        const StationRowCells& row = rows[k - 1];
        EXPECT_EQ(row.cells,
                  (std::array<std::string, kStationColumns>{rig.location(k), "usb", "0C60",
                                                            "2/2 start", "", "", "", "", "done"}));
        EXPECT_EQ(row.progressPermille, 1000u);
        EXPECT_EQ(row.look, StationRowCells::Look::done);
    }
    EXPECT_EQ(cellOf(rows[1], StationColumn::place), rig.location(2));
    EXPECT_EQ(cellOf(rows[1], StationColumn::step), "1/2 backup");
    EXPECT_EQ(cellOf(rows[1], StationColumn::result), "failed: no connection with the phone");
    EXPECT_EQ(rows[1].look, StationRowCells::Look::failed);
    EXPECT_EQ(view.texts[IDC_ST_STATUS].substr(view.texts[IDC_ST_STATUS].find("running")),
              "running 0   done 2   failed 1");
    // The taskbar's bar: two phones whole, the failed one nowhere past its first step, in red.
    ASSERT_TRUE(view.overall.has_value());
    EXPECT_EQ(*view.overall, (FakeStationView::Overall{2000, 3000, true}));

    // Ended: the chain may change again, and the same files as norvale-cli --station's.
    EXPECT_TRUE(view.isEnabled(IDC_ST_START));
    EXPECT_FALSE(view.isEnabled(IDC_ST_STOP));
    EXPECT_EQ(view.timerMs, 0u);
    EXPECT_EQ(rig.journal("line.jsonl").size(), 3u);
    // The process's working folder is the window's to change, asked of it once.
    EXPECT_EQ(window.enteredFolders, std::vector<std::string>{"."});
    for (const unsigned k : {1u, 3u}) {
        EXPECT_TRUE(std::filesystem::exists(testing::inFolder(rig.folder(k), "Boot.bin")));
    }
    // The places seen are kept for ticking.
    EXPECT_EQ(view.places.size(), 3u);

    // A double click on a finished phone says where its lines went.
    controller.onRowActivated(0);
    EXPECT_EQ(view.logTitle.rfind("The phone's lines: ", 0), 0u);
    EXPECT_EQ(view.logLines,
              std::vector<std::string>{"The phone's log is in the file " +
                                       testing::inFolder(rig.folder(1), "phone.log")});
}

// Holds every dump's writer at a gate, so each phone stays in the middle of its read until the
// test opens it.
class HeldReads {
public:
    explicit HeldReads(StationRig& rig) {
        rig.cli.files.beforeAppend([this] {
            std::unique_lock lock(mutex_);
            ++waiting_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return open_; });
        });
    }
    bool waitForHeld(int phones) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60),
                                 [&] { return waiting_ >= phones; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int waiting_ = 0;
    bool open_ = false;
};

TEST(StationWindowStory, StopInTheMiddleOfAReadEndsEveryPhoneAtItsNextTransferKeepingItsPart) {
    StationRig rig(2);
    HeldReads held(rig);
    StationWindow window(rig);
    StationWindowController& controller = window.controller();
    FakeStationView& view = window.view;
    controller.onCommand(IDC_ST_BACKUP);
    controller.onCommand(IDC_ST_START);
    ASSERT_TRUE(held.waitForHeld(2));
    // Both rows show a read under way before Stop.
    ASSERT_TRUE(window.tickUntil([&] {
        return view.rows.size() == 2 && !cellOf(view.rows[0], StationColumn::bytes).empty() &&
               !cellOf(view.rows[1], StationColumn::bytes).empty();
    }));
    EXPECT_EQ(cellOf(view.rows[0], StationColumn::step), "1/1 backup");
    // The first phone's log, opened mid-read, follows it through the stop.
    controller.onRowActivated(0);
    const std::vector<std::string> before = view.logLines;
    ASSERT_FALSE(before.empty());

    controller.onCommand(IDC_ST_STOP);
    EXPECT_FALSE(view.isEnabled(IDC_ST_STOP));
    held.open();
    ASSERT_TRUE(window.tickUntilEnded());
    ASSERT_GT(view.logLines.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), view.logLines.begin()));
    ASSERT_EQ(view.rows.size(), 2u);
    for (const StationRowCells& row : view.rows) {
        // Stopped at its next transfer, whatever that was: a stop, not a failure of the phone.
        EXPECT_EQ(cellOf(row, StationColumn::result), "stopped");
        EXPECT_EQ(row.look, StationRowCells::Look::stopped);
        EXPECT_EQ(cellOf(row, StationColumn::bytes), "");
    }
    EXPECT_EQ(view.closed, 0);
    EXPECT_TRUE(view.isEnabled(IDC_ST_BACKUP));
}

TEST(StationWindowStory, ClosingWhilePhonesAreServedAsksAndClosesOnlyOnceEveryPhoneStopped) {
    StationRig rig(1);
    HeldReads held(rig);
    StationWindow window(rig);
    StationWindowController& controller = window.controller();
    FakeStationView& view = window.view;
    controller.onCommand(IDC_ST_BACKUP);
    controller.onCommand(IDC_ST_START);
    ASSERT_TRUE(held.waitForHeld(1));

    view.answerYes = false;
    controller.onClose();
    ASSERT_EQ(view.asked.size(), 1u);
    EXPECT_EQ(view.asked[0], "Phones being served: 1\nStop the station and close the window?");
    EXPECT_EQ(view.closed, 0);
    EXPECT_TRUE(controller.running());

    view.answerYes = true;
    controller.onClose();
    EXPECT_EQ(view.asked.size(), 2u);
    // The phone is still in its read: the window waits for it.
    controller.onTimer();
    EXPECT_EQ(view.closed, 0);
    held.open();
    ASSERT_TRUE(window.tickUntilEnded());
    EXPECT_EQ(view.closed, 1);
    EXPECT_EQ(cellOf(view.rows[0], StationColumn::result), "stopped");

    // Idle, the window closes at once, without a question.
    controller.onClose();
    EXPECT_EQ(view.asked.size(), 2u);
    EXPECT_EQ(view.closed, 2);
}

TEST(StationWindowStory, TheSessionsEndStopsEveryPhoneAndWritesItsJournalLineBeforeClosing) {
    StationRig rig(1);
    HeldReads held(rig);
    StationWindow window(rig);
    StationWindowController& controller = window.controller();
    controller.onCommand(IDC_ST_BACKUP);
    window.view.texts[IDC_ST_JOURNAL] = "line.jsonl";
    controller.onJournalEdited();
    controller.onCommand(IDC_ST_START);
    ASSERT_TRUE(held.waitForHeld(1));
    // A read holds no shutdown back; Windows ends the session anyway.
    EXPECT_TRUE(controller.onQueryEndSession());
    held.open();
    controller.onEndSession();
    EXPECT_FALSE(controller.running());
    EXPECT_EQ(window.view.closed, 1);
    EXPECT_EQ(rig.journal("line.jsonl").size(), 1u);
}

TEST(StationWindowStory, WhatTheWindowWasSetToIsThereAtTheNextStart) {
    StationRig rig(1);
    std::string kept;
    {
        StationWindow window(rig);
        StationWindowController& controller = window.controller();
        FakeStationView& view = window.view;
        controller.onCommand(IDC_ST_BACKUP);
        view.files = {"new-pds.bin"};
        controller.onCommand(IDC_ST_WRITE_PDS);
        view.checks[IDC_ST_CHANGED_ONLY] = true;
        controller.onCommand(IDC_ST_CHANGED_ONLY);
        view.folders = {"station"};
        controller.onCommand(IDC_ST_CHOOSE_FOLDER);
        view.journals = {"line.jsonl"};
        controller.onCommand(IDC_ST_CHOOSE_JOURNAL);
        view.layout = "10 20 800 600 0 80 40 40 90 90 120 60 50 200";
        controller.onClose();
        ASSERT_TRUE(window.settings.saved.has_value());
        kept = *window.settings.saved;
    }
    StationWindow again(rig);
    again.settings.saved = kept;
    again.controller();
    EXPECT_EQ(again.view.steps, (std::vector<std::string>{"backup", "write PDS new-pds.bin"}));
    EXPECT_TRUE(again.view.checks[IDC_ST_VERIFY]);
    EXPECT_TRUE(again.view.checks[IDC_ST_CHANGED_ONLY]);
    EXPECT_EQ(again.view.texts[IDC_ST_FOLDER], "station");
    EXPECT_EQ(again.view.texts[IDC_ST_JOURNAL], "line.jsonl");
    EXPECT_EQ(again.view.layout, "10 20 800 600 0 80 40 40 90 90 120 60 50 200");
    EXPECT_EQ(again.view.texts[IDC_ST_COMMAND_LINE],
              "norvale-cli --station --sim --dir station --journal line.jsonl backup write pds "
              "new-pds.bin --changed-only");
}

TEST(StationWindowStory,
     AJournalThatLosesLinesIsShownAtOnceAndAskedAboutOnCloseAndPdsClonedOnlyIfTicked) {
    StationRig rig(1);
    // The journal's share goes away before its first line.
    rig.cli.files.failAppending("lost.jsonl", 1, FileError::other);
    StationWindow window(rig);
    StationWindowController& controller = window.controller();
    FakeStationView& view = window.view;
    EXPECT_TRUE(view.hidden[IDC_ST_JOURNAL_ALARM]);
    controller.onCommand(IDC_ST_START_PHONE);
    view.texts[IDC_ST_JOURNAL] = "lost.jsonl";
    controller.onJournalEdited();
    view.checks[IDC_ST_CLONE_PDS] = true;
    controller.onCommand(IDC_ST_CLONE_PDS);
    EXPECT_EQ(view.texts[IDC_ST_COMMAND_LINE],
              "norvale-cli --station --sim --dir . --journal lost.jsonl --clone-pds start");
    EXPECT_NE(window.settings.saved->find("clone-pds=1\n"), std::string::npos);

    controller.onCommand(IDC_ST_START);
    ASSERT_EQ(window.plans.size(), 1u);
    EXPECT_TRUE(window.plans[0].clonePds);
    // Said while the station still watches for phones, not once it ended.
    ASSERT_TRUE(window.tickUntil([&] { return !view.hidden[IDC_ST_JOURNAL_ALARM]; }));
    EXPECT_TRUE(controller.running());
    EXPECT_EQ(view.texts[IDC_ST_JOURNAL_ALARM],
              "ERROR - could not write the journal's line to the file lost.jsonl; journal lines "
              "not written: 1 (click to hide)");
    // Clicked: seen, and gone.
    controller.onCommand(IDC_ST_JOURNAL_ALARM);
    EXPECT_TRUE(view.hidden[IDC_ST_JOURNAL_ALARM]);
    controller.onCommand(IDC_ST_STOP);
    ASSERT_TRUE(window.tickUntilEnded());
    EXPECT_TRUE(view.told.empty());

    // Closing, idle, still asks: the operator may keep the window to mend the journal.
    view.answerYes = false;
    controller.onClose();
    EXPECT_EQ(view.asked,
              std::vector<std::string>{"The journal is incomplete: not every line could "
                                       "be written.\nClose the window?"});
    EXPECT_EQ(view.closed, 0);
    view.answerYes = true;
    controller.onClose();
    EXPECT_EQ(view.closed, 1);
}

}  // namespace
}  // namespace norvale
