// The open-file dialog, driven by the test from outside as an operator would, on a display.
#include <gtest/gtest.h>

#include <windows.h>
#include <dlgs.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "core/OperatorTexts.h"
#include "platform/win32/Win32FileChooser.h"

namespace norvale {
namespace {

struct FindDialog {
    HWND found = nullptr;
};

BOOL CALLBACK takeDialog(HWND window, LPARAM parameter) {
    char className[16] = {};
    ::GetClassNameA(window, className, sizeof(className));
    if (std::string(className) == "#32770" && ::IsWindowVisible(window)) {
        reinterpret_cast<FindDialog*>(parameter)->found = window;
        return FALSE;
    }
    return TRUE;
}

std::string workingDirectory() {
    char folder[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, folder);
    return folder;
}

class Win32FileChooserTest : public ::testing::Test {
protected:
    // Runs the chooser on a thread of its own, hands its dialog window to `operate`, and returns
    // what the chooser returned. Skips the test when no dialog can be shown (no display).
    template <typename Operate>
    std::optional<std::string> choose(Operate operate) {
        std::optional<std::string> chosen;
        std::atomic<bool> done{false};
        std::atomic<DWORD> threadId{0};
        std::thread chooser([&] {
            threadId = ::GetCurrentThreadId();
            chosen = Win32FileChooser(text::kImageFileFilter.view()).chooseImageFile();
            done = true;
        });
        FindDialog dialog;
        for (int i = 0; i < 1000 && !done && dialog.found == nullptr; ++i) {
            ::Sleep(20);
            if (threadId == 0) continue;
            ::EnumThreadWindows(threadId, takeDialog, reinterpret_cast<LPARAM>(&dialog));
        }
        if (dialog.found != nullptr) {
            char title[64] = {};
            ::GetWindowTextA(dialog.found, title, sizeof(title));
            dialogTitle_ = title;
            operate(dialog.found);
        }
        chooser.join();
        shown_ = dialog.found != nullptr;
        return chosen;
    }

    bool shown_ = false;
    std::string dialogTitle_;
};

TEST_F(Win32FileChooserTest, CancellingGivesNothing) {
    const auto chosen =
        choose([](HWND dialog) { ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0); });
    if (!shown_) GTEST_SKIP() << "no display for the file dialog";
    EXPECT_FALSE(chosen);
}

TEST_F(Win32FileChooserTest, GivesTheChosenPathAndLeavesTheWorkingDirectoryAlone) {
    char temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathA(MAX_PATH, temp), 0u);
    const std::string folder =
        std::string(temp) + "norvale-chooser-" + std::to_string(::GetCurrentProcessId());
    // A run that failed half-way may have left the folder behind.
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr) ||
                ::GetLastError() == ERROR_ALREADY_EXISTS);
    const std::string image = folder + "\\flash.img";
    HANDLE file =
        ::CreateFileA(image.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);

    const std::string before = workingDirectory();
    const auto chosen = choose([&](HWND dialog) {
        // The Explorer-style dialog's file name box; the operator types the name and presses OK.
        ::SetDlgItemTextA(dialog, cmb13, image.c_str());
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
    });
    ::DeleteFileA(image.c_str());
    ::RemoveDirectoryA(folder.c_str());
    if (!shown_) GTEST_SKIP() << "no display for the file dialog";

    ASSERT_TRUE(chosen);
    EXPECT_EQ(::lstrcmpiA(chosen->c_str(), image.c_str()), 0) << *chosen;
    EXPECT_EQ(workingDirectory(), before);
}

}  // namespace
}  // namespace norvale
