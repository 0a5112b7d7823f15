// norvale-sim.exe as the operator meets it: a process whose dialog closes only by SC_CLOSE.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "win32/DialogHarness.h"
#include "win32/process/ChildProcess.h"

namespace norvale {
namespace {

using testing::waitUntil;
using testing::windowText;

struct FindDialog {
    DWORD processId;
    HWND found = nullptr;
};

BOOL CALLBACK findDialogOf(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<FindDialog*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    // The status bar is the last thing the initialisation makes: once it is there, the dialog is
    // ready.
    if (owner == search->processId && windowText(window) == L"Norvale      v 0.5" &&
        GetDlgItem(window, 1018) != nullptr) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A scratch folder of the test's, removed when the test is done with it.
class ScratchFolder {
public:
    ScratchFolder() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        path = std::wstring(temp) + L"norvale-dialog-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(path.c_str(), nullptr);
    }
    ~ScratchFolder() { RemoveDirectoryW(path.c_str()); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::wstring path;
};

// The program started in a scratch folder; ended, if it still runs, when the test is done, before
// its folder goes.
struct SimProgram {
    SimProgram() : process(testing::builtProgram(L"norvale-sim.exe"), L"", folder.path, {}) {
        if (!process.started()) {
            ADD_FAILURE() << "norvale-sim.exe is not built beside the tests, or did not start";
            return;
        }
        FindDialog search{process.id()};
        waitUntil([&] {
            EnumWindows(findDialogOf, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        });
        dialog = search.found;
    }

    ScratchFolder folder;
    testing::ChildProcess process;
    HWND dialog = nullptr;
};

TEST(DialogProcess, EscapeAndEnterLeaveItOpenAndSystemCloseEndsItWithZero) {
    SimProgram program;
    ASSERT_NE(program.dialog, nullptr) << "no dialog window appeared";
    HWND log = GetDlgItem(program.dialog, 1000);
    ASSERT_NE(log, nullptr);

    for (const WPARAM key : {VK_ESCAPE, VK_RETURN}) {
        PostMessageW(log, WM_KEYDOWN, key, 1);
        PostMessageW(log, WM_KEYUP, key, 0xC0000001);
    }
    PostMessageW(program.dialog, WM_CLOSE, 0, 0);
    EXPECT_FALSE(program.process.waitForExit(1500));
    // The window answers still: its message loop was not ended.
    DWORD_PTR answer = 0;
    EXPECT_NE(SendMessageTimeoutW(program.dialog, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &answer), 0);

    PostMessageW(program.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(program.process.waitForExit(10000));
    EXPECT_EQ(program.process.exitCode(), 0u);
}

}  // namespace
}  // namespace norvale
