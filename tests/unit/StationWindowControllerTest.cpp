// The station window's decisions that need no phone: the chain built with the buttons and shown
// as its command line, what is refused before anything starts, and the rows' words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station/StationEngine.h"
#include "ui/StationRowText.h"
#include "ui/StationWindowController.h"
#include "ui/resources/resource.h"
#include "unit/FakeStationView.h"

namespace norvale {
namespace {

using testing::FakeStationView;
using testing::MemorySettings;

// A window whose Start never gets as far as an engine.
struct Window {
    explicit Window(Language language = Language::english)
        : controller(
              view, settings,
              [this](const StationPlan&) {
                  ++launches;
                  return nullptr;
              },
              language) {
        controller.onInit();
    }

    FakeStationView view;
    MemorySettings settings;
    int launches = 0;
    StationWindowController controller;
};

TEST(StationWindowController, TheChainIsBuiltWithTheButtonsAndShownAsItsCommandLine) {
    Window window;
    FakeStationView& view = window.view;
    EXPECT_EQ(view.caption, "Norvale Station      v 0.5");
    EXPECT_EQ(view.texts[IDC_ST_FOLDER], "here");
    EXPECT_EQ(view.texts[IDC_ST_FROM], "10010000");
    EXPECT_TRUE(view.checks[IDC_ST_VERIFY]);
    EXPECT_TRUE(view.checks[IDC_ST_ALL_PLACES]);
    EXPECT_FALSE(view.isEnabled(IDC_ST_PLACES));
    EXPECT_FALSE(view.isEnabled(IDC_ST_STOP));

    window.controller.onCommand(IDC_ST_BACKUP);
    view.files = {"new pds.bin", std::nullopt};
    window.controller.onCommand(IDC_ST_WRITE_PDS);
    window.controller.onCommand(IDC_ST_WRITE_BOOT);  // cancelled in the file dialog
    view.texts[IDC_ST_FROM] = "10040000";
    view.texts[IDC_ST_TO] = "1005ffff";
    view.files = {"blocks.bin"};
    window.controller.onCommand(IDC_ST_WRITE_BLOCKS);
    view.folders = {"backup-20261208-041500"};
    window.controller.onCommand(IDC_ST_RESTORE);
    window.controller.onCommand(IDC_ST_START_PHONE);
    EXPECT_EQ(view.steps, (std::vector<std::string>{"backup", "write PDS new pds.bin",
                                                    "write 10040000-1005FFFF blocks.bin",
                                                    "restore backup-20261208-041500", "start"}));
    EXPECT_EQ(view.texts[IDC_ST_COMMAND_LINE],
              "norvale-cli --station --dir here backup write pds \"new pds.bin\" write "
              "10040000-1005FFFF blocks.bin restore backup-20261208-041500 start");

    view.checks[IDC_ST_VERIFY] = false;
    window.controller.onCommand(IDC_ST_VERIFY);
    view.selected = 2;
    window.controller.onCommand(IDC_ST_REMOVE_STEP);
    EXPECT_EQ(view.texts[IDC_ST_COMMAND_LINE],
              "norvale-cli --station --dir here backup write pds \"new pds.bin\" --no-verify "
              "restore backup-20261208-041500 start");

    // Only the places ticked: none ticked serves none, and makes no command line.
    view.checks[IDC_ST_ALL_PLACES] = false;
    window.controller.onCommand(IDC_ST_TICKED_PLACES);
    EXPECT_TRUE(view.isEnabled(IDC_ST_PLACES));
    EXPECT_EQ(view.texts[IDC_ST_COMMAND_LINE], "");
    window.controller.onCommand(IDC_ST_START);
    EXPECT_EQ(view.told.back(),
              "No place is ticked: tick the places to serve, or choose all places.");
    EXPECT_EQ(window.launches, 0);

    window.controller.onCommand(IDC_ST_CLEAR_STEPS);
    EXPECT_TRUE(view.steps.empty());
    window.controller.onCommand(IDC_ST_START);
    EXPECT_EQ(view.told.back(), "The chain is empty: add at least one step.");
    EXPECT_EQ(window.launches, 0);
}

TEST(StationWindowController, ABlockRangeThatIsNoRangeOfWholeBlocksIsRefusedBeforeTheFileDialog) {
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"1001000G", "1001FFFF"},   // not hex
             {"10020000", "1001FFFF"},   // backwards
             {"", "1001FFFF"},           // empty
             {"100100000", "1001FFFF"},  // nine digits
         }) {
        SCOPED_TRACE(from + "-" + to);
        Window window;
        window.view.texts[IDC_ST_FROM] = from;
        window.view.texts[IDC_ST_TO] = to;
        window.view.files = {"blocks.bin"};
        window.controller.onCommand(IDC_ST_WRITE_BLOCKS);
        EXPECT_TRUE(window.view.steps.empty());
        ASSERT_EQ(window.view.told.size(), 1u);
        EXPECT_EQ(window.view.files.size(), 1u) << "the file dialog was shown";
    }
}

TEST(StationWindowController, AnEngineThatCanNotBeMadeLeavesTheWindowAsItWas) {
    Window window;
    window.controller.onCommand(IDC_ST_START_PHONE);
    window.controller.onCommand(IDC_ST_START);
    EXPECT_EQ(window.launches, 1);
    EXPECT_EQ(window.view.told.back(), "The station could not start.");
    EXPECT_FALSE(window.controller.running());
    EXPECT_TRUE(window.view.isEnabled(IDC_ST_START));
}

TEST(StationWindowController, RowsSayTheStepTheTransferAndTheResultInTheWindowsLanguage) {
    PhoneRow row;
    row.arrival = 4;
    row.place = "1-1.3";
    row.road = "usb";
    row.bootVersion = "0C60";
    row.steps = 3;
    row.step = 2;
    row.command = "write";
    row.transfer = PhoneTransfer{24 * 1024, 64 * 1024, 2000};
    StationRowCells cells = stationRowCells(row, Language::english);
    EXPECT_EQ(cells.cells, (std::array<std::string, kStationColumns>{
                               "1-1.3", "usb", "0C60", "2/3 write", "", "24.0 KiB of 64.0 KiB",
                               "12.0 KiB/s", "0:03", ""}));
    // The bar tells what the bytes tell; the taskbar the chain: one step of three done, and
    // three eighths of the second.
    EXPECT_EQ(cells.progressPermille, 375u);
    EXPECT_EQ(chainPermille(row), 333u + 125u);
    EXPECT_TRUE(phoneBeingWritten(row));
    EXPECT_EQ(cells.look, StationRowCells::Look::running);

    row.transfer.reset();
    row.state = PhoneRow::State::failed;
    row.reason = "нет связи с телефоном";
    cells = stationRowCells(row, Language::russian);
    EXPECT_EQ(cells.cells[8], "ошибка: нет связи с телефоном");
    EXPECT_EQ(cells.look, StationRowCells::Look::failed);
    EXPECT_EQ(cells.progressPermille, 0u);
    EXPECT_FALSE(phoneBeingWritten(row));

    // Stopped by the operator, in a read or between transfers: stopped, not failed.
    for (const MessageId stop : {MessageId::stoppedByOperator, MessageId::readStoppedByOperator}) {
        row.reasonId = stop;
        row.reason = "прервано оператором";
        cells = stationRowCells(row, Language::russian);
        EXPECT_EQ(cells.cells[8], "остановлено");
        EXPECT_EQ(cells.look, StationRowCells::Look::stopped);
    }

    row.state = PhoneRow::State::done;
    row.step = 3;
    cells = stationRowCells(row, Language::english);
    EXPECT_EQ(cells.cells[8], "done");
    EXPECT_EQ(cells.progressPermille, 1000u);

    PhoneRow arrived;
    arrived.place = "sim-2";
    arrived.steps = 2;
    cells = stationRowCells(arrived, Language::russian);
    EXPECT_EQ(cells.cells[3], "-/2");
    EXPECT_EQ(cells.cells[8], "ожидание");

    StationStatus status;
    status.elapsedMs = 3723000;
    status.running = 2;
    status.done = 5;
    status.failed = 1;
    EXPECT_EQ(stationStatusLine(status, Language::english),
              "Elapsed 1:02:03   running 2   done 5   failed 1");
    EXPECT_EQ(stationStatusLine(status, Language::russian),
              "Время 1:02:03   в работе 2   готово 5   ошибка 1");
    // Of three the engine counts as failed, the two Stop ended are counted as stopped.
    status.failed = 3;
    status.stopped = 2;
    EXPECT_EQ(stationStatusLine(status, Language::english),
              "Elapsed 1:02:03   running 2   done 5   failed 1   stopped 2");
    EXPECT_EQ(byteCountText(512), "512 B");
    EXPECT_EQ(byteCountText(3670016), "3.50 MiB");
    EXPECT_EQ(durationText(59999), "0:59");
}

}  // namespace
}  // namespace norvale
