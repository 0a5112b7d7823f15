// norvale-station-sim.exe as the operator meets it: a chain built with the buttons, three phones
// served at once, one of them unplugged on the way; Stop in the middle of a read; closing while
// phones are served; the settings kept for the next start.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "win32/StationProgramRig.h"

namespace norvale {
namespace {

using testing::StationFolder;
using testing::StationProgram;
using testing::waitUntil;

constexpr int kStep = 3;
constexpr int kBytes = 5;
constexpr int kResult = 8;

// Rows by their place, once every row has a result: the list keeps arrival order, which three
// phones attached at once don't fix.
std::vector<std::vector<std::wstring>> rowsByPlace(const StationProgram& program) {
    std::vector<std::vector<std::wstring>> rows;
    for (int i = 0; i < program.rowCount(); ++i) rows.push_back(program.row(i));
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool allEnded(const StationProgram& program, int phones) {
    if (program.rowCount() != phones) return false;
    for (int i = 0; i < phones; ++i) {
        const std::wstring result = program.cell(i, kResult);
        if (result != L"done" && result.rfind(L"failed", 0) != 0) return false;
    }
    return true;
}

TEST(StationWindowProcess, ThreePhonesThroughAChainTwoDoneAndTheUnpluggedOneFailed) {
    StationFolder folder;
    StationProgram program(folder,
                           {L"NORVALE_SIM_PHONES=3", L"NORVALE_SIM_FAULTS=2:unplug@60", L"LANG=C"});
    ASSERT_NE(program.window, nullptr);

    program.click(IDC_ST_BACKUP);
    program.click(IDC_ST_START_PHONE);
    program.settle();
    program.setText(IDC_ST_JOURNAL, L"line.jsonl");
    program.settle();
    EXPECT_EQ(program.steps(), (std::vector<std::wstring>{L"backup", L"start"}));
    EXPECT_EQ(program.text(IDC_ST_COMMAND_LINE), L"");

    program.click(IDC_ST_START);
    program.settle();
    // While phones are served the chain can't change.
    EXPECT_FALSE(program.enabled(IDC_ST_BACKUP));
    EXPECT_FALSE(program.enabled(IDC_ST_START));
    EXPECT_TRUE(program.enabled(IDC_ST_STOP));

    ASSERT_TRUE(waitUntil([&] { return allEnded(program, 3); }, std::chrono::seconds(60)))
        << "rows: " << program.rowCount();
    const auto rows = rowsByPlace(program);
    EXPECT_EQ(rows[0], (std::vector<std::wstring>{L"sim-1", L"driver", L"0C60", L"2/2 start", L"",
                                                  L"", L"", L"", L"done"}));
    EXPECT_EQ(rows[1][0], L"sim-2");
    EXPECT_EQ(rows[1][kResult], L"failed: ");
    EXPECT_EQ(rows[2][kResult], L"done");

    ASSERT_TRUE(waitUntil([&] { return program.enabled(IDC_ST_START); }));
    EXPECT_EQ(program.text(IDC_ST_STATUS).substr(program.text(IDC_ST_STATUS).find(L"running")),
              L"running 0   done 2   failed 1");
    EXPECT_TRUE(folder.exists(L"line.jsonl"));
}

}  // namespace
}  // namespace norvale
