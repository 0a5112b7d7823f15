// norvale-sim.exe as the operator meets it: a process whose dialog closes only by SC_CLOSE.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "win32/DialogHarness.h"

namespace norvale {
namespace {

using testing::waitUntil;
using testing::windowText;

// norvale-sim.exe beside the test program or one folder up (the build tree's root).
std::wstring simProgramPath() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder.resize(folder.find_last_of(L"\\/"));
    for (int up = 0; up < 2; ++up) {
        const std::wstring candidate = folder + L"\\norvale-sim.exe";
        if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
        folder.resize(folder.find_last_of(L"\\/"));
    }
    return {};
}

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

// The program started in a scratch folder; ended, if it still runs, when the test is done.
class SimProgram {
public:
    SimProgram() {
        const std::wstring program = simProgramPath();
        if (program.empty()) {
            ADD_FAILURE() << "norvale-sim.exe is not built beside the tests";
            return;
        }
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"norvale-dialog-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        std::wstring commandLine = L"\"" + program + L"\"";
        STARTUPINFOW startup{sizeof startup};
        if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                            nullptr, folder_.c_str(), &startup, &process_)) {
            ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
            return;
        }
        CloseHandle(process_.hThread);
        FindDialog search{process_.dwProcessId};
        waitUntil([&] {
            EnumWindows(findDialogOf, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        });
        dialog = search.found;
    }
    ~SimProgram() {
        if (process_.hProcess != nullptr) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process_.hProcess, 99);
                WaitForSingleObject(process_.hProcess, 5000);
            }
            CloseHandle(process_.hProcess);
        }
        RemoveDirectoryW(folder_.c_str());
    }
    SimProgram(const SimProgram&) = delete;
    SimProgram& operator=(const SimProgram&) = delete;

    bool waitForExit(DWORD ms) const {
        return WaitForSingleObject(process_.hProcess, ms) == WAIT_OBJECT_0;
    }
    DWORD exitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    HWND dialog = nullptr;

private:
    std::wstring folder_;
    PROCESS_INFORMATION process_{};
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
    EXPECT_FALSE(program.waitForExit(1500));
    // The window answers still: its message loop was not ended.
    DWORD_PTR answer = 0;
    EXPECT_NE(SendMessageTimeoutW(program.dialog, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &answer), 0);

    PostMessageW(program.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(program.waitForExit(10000));
    EXPECT_EQ(program.exitCode(), 0u);
}

}  // namespace
}  // namespace norvale
