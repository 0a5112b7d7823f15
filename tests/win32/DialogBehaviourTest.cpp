// The real dialog driven through its window: clicks, the busy guard, clearing, keys, the log.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "win32/DialogHarness.h"

namespace norvale {
namespace {

using testing::DialogHarness;
using testing::waitUntil;

const std::wstring kNotConnected = L"ОШИБКА - Телефон не подключен\r\n";

TEST(DialogBehaviour, ACommandClickWithoutAPhoneAppendsTheNotConnectedLine) {
    DialogHarness ui;
    ui.threads.open();
    ui.click(1037);
    ui.sim.threads.joinAll();
    EXPECT_EQ(ui.logText(), kNotConnected);
    EXPECT_FALSE(ui.state.busy.load());

    ui.click(1043);
    ui.sim.threads.joinAll();
    EXPECT_EQ(ui.logText(), kNotConnected + kNotConnected);
}

TEST(DialogBehaviour, ASecondClickWhileAWorkerRunsStartsNothing) {
    DialogHarness ui;
    ui.click(1038);
    ASSERT_TRUE(ui.state.busy.load());
    ui.click(1038);
    ui.click(1044);
    EXPECT_EQ(ui.threads.started(), 1);

    ui.threads.open();
    ui.sim.threads.joinAll();
    EXPECT_EQ(ui.logText(), kNotConnected);

    ui.click(1044);
    ui.sim.threads.joinAll();
    EXPECT_EQ(ui.threads.started(), 2);
}

TEST(DialogBehaviour, ClearLogEmptiesTheLogWhileAWorkerWritesAndLaterLinesStartAtTheTop) {
    DialogHarness ui;
    // The worker writes numbered lines from its own thread until told to stop.
    std::atomic<int> written{0};
    std::atomic<bool> stop{false};
    ui.threads.prelude = [&] {
        while (!stop.load()) {
            ui.view.appendLog("line " + std::to_string(written.load()) + "\r\n");
            ++written;
        }
    };
    ui.threads.open();
    ui.click(1041);
    ASSERT_TRUE(waitUntil([&] { return written.load() >= 20; }));
    ui.click(1003);
    const int clearedAt = written.load();
    ASSERT_TRUE(waitUntil([&] { return written.load() >= clearedAt + 20; }));
    stop = true;
    ui.sim.threads.joinAll();

    const std::wstring log = ui.logText();
    EXPECT_EQ(log.find(L"line 0\r\n"), std::wstring::npos);
    // What remains is an unbroken run of lines from the top: line k, k+1, ... then the frame's.
    ASSERT_EQ(log.rfind(L"line ", 0), 0u) << "later lines start at the top";
    const int first = std::stoi(log.substr(5));
    EXPECT_GT(first, 0);
    EXPECT_LE(first, clearedAt + 1);
    std::wstring expected;
    for (int n = first; n < written.load(); ++n)
        expected += L"line " + std::to_wstring(n) + L"\r\n";
    EXPECT_EQ(log, expected + kNotConnected);
}

// Posts `keys` as key presses to `target` through the dialog's own message loop, and returns
// once the loop has handled them and anything they posted in turn.
void pressKeys(DialogHarness& ui, HWND target, std::initializer_list<WPARAM> keys) {
    for (const WPARAM key : keys) {
        PostMessageW(target, WM_KEYDOWN, key, 1);
        PostMessageW(target, WM_KEYUP, key, 0xC0000001);
    }
    // Two rounds of a posted marker: the first lands after the keys, the second after whatever
    // handling the keys posted (an edit control posts WM_CLOSE for Escape).
    for (int round = 0; round < 2; ++round) {
        ui.view.appendLog("marker");
        PostMessageW(ui.dialog, WM_COMMAND, 1003, 0);
        ASSERT_TRUE(waitUntil([&] { return ui.closed() || ui.logText().empty(); }));
    }
}

TEST(DialogBehaviour, EscapeAndEnterDoNotCloseTheDialog) {
    DialogHarness ui;
    pressKeys(ui, ui.item(1000), {VK_ESCAPE, VK_RETURN});
    EXPECT_FALSE(ui.closed());
    pressKeys(ui, ui.item(1007), {VK_RETURN, VK_ESCAPE});
    EXPECT_FALSE(ui.closed());
    // WM_CLOSE, which an edit control sends for Escape, turns into id 2 and is swallowed too.
    SendMessageW(ui.dialog, WM_CLOSE, 0, 0);
    EXPECT_FALSE(ui.closed());
    EXPECT_TRUE(IsWindowVisible(ui.dialog));
    EXPECT_EQ(ui.threads.started(), 0);
}

TEST(DialogBehaviour, SystemCloseEndsTheDialogWithZero) {
    DialogHarness ui;
    SendMessageW(ui.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(waitUntil([&] { return ui.closed(); }));
    EXPECT_EQ(ui.dialogResult.get(), 0);
}

TEST(DialogBehaviour, AppendsFromAnyThreadLandInOrderAndKeepTheCyrillic) {
    DialogHarness ui;
    ui.log.append(MessageId::phoneConnected);
    std::thread other([&] { ui.log.append(MessageId::sendingLoader); });
    other.join();
    EXPECT_EQ(ui.logText(), L"Телефон подключен\r\nПосылка загрузчика\r\n");
}

// When the log's text limit would be reached, the oldest lines give way: every new line,
// errors included, still appears at the end, and what is left starts with a whole line.
TEST(DialogBehaviour, AFullLogDropsItsOldestLinesSoEveryNewLineStillShows) {
    DialogHarness ui;
    HWND log = ui.item(1000);
    const auto limit = static_cast<std::size_t>(SendMessageW(log, EM_GETLIMITTEXT, 0, 0));
    ASSERT_GT(limit, 2000u);
    const std::string filler(limit / 50, 'x');
    const auto line = [&](std::size_t n) {
        return "n" + std::to_string(n) + " " + filler + "\r\n";
    };
    std::size_t lines = 0;
    for (std::size_t total = 0; total < limit * 2; total += line(lines++).size()) {
        ui.view.appendLog(line(lines));
    }
    ui.log.append(MessageId::phoneNotConnected);

    const std::wstring shown = ui.logText();
    EXPECT_LE(shown.size(), limit);
    EXPECT_GT(shown.size(), limit / 2);  // the recent part of the session stays
    // An unbroken run of whole lines up to the last, then the error line.
    ASSERT_EQ(shown.rfind(L"n", 0), 0u);
    const std::size_t first = std::stoul(shown.substr(1));
    EXPECT_GT(first, 0u);
    std::string expected;
    for (std::size_t n = first; n < lines; ++n) expected += line(n);
    EXPECT_EQ(shown, std::wstring(expected.begin(), expected.end()) + kNotConnected);

    // The pane goes on taking lines at its end.
    ui.view.appendLog("after\r\n");
    const std::wstring after = ui.logText();
    EXPECT_EQ(after.substr(after.size() - 7), L"after\r\n");
}

// An operator who tabbed into the log selected all of it; the next line replaces the selection,
// also when the pane is full and its oldest lines must go first.
TEST(DialogBehaviour, AppendsReplaceTheSelectionEvenInAFullLog) {
    DialogHarness ui;
    HWND log = ui.item(1000);
    SendMessageW(log, EM_SETLIMITTEXT, 100, 0);
    ui.view.appendLog("one\r\ntwo\r\n");
    SendMessageW(log, EM_SETSEL, 0, -1);
    ui.view.appendLog("three\r\n");
    EXPECT_EQ(ui.logText(), L"three\r\n");

    // Full: 9 lines of 10 characters; selecting the last line and replacing it with a longer
    // one drops the top line, keeps the selection on the same text, and replaces it there.
    SendMessageW(log, WM_SETTEXT, 0, 0);
    for (char c = 'a'; c < 'j'; ++c) ui.view.appendLog(std::string(8, c) + "\r\n");
    SendMessageW(log, EM_SETSEL, 80, 90);
    ui.view.appendLog(std::string(35, 'z') + "\r\n");
    const std::wstring shown = ui.logText();
    EXPECT_LE(shown.size(), 100u);
    EXPECT_EQ(shown.substr(shown.size() - 37), std::wstring(35, L'z') + L"\r\n");
    EXPECT_EQ(shown.find(L"iiiiiiii"), std::wstring::npos);
    EXPECT_EQ(shown.find(L"aaaaaaaa"), std::wstring::npos);
    EXPECT_NE(shown.find(L"hhhhhhhh\r\n"), std::wstring::npos);
}

}  // namespace
}  // namespace norvale
