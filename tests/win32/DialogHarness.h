// The real dialog window, run modally on its own UI thread over the simulator, for the tests.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "sim/SimPlatform.h"
#include "ui/MainDialog.h"
#include "ui/ViewLog.h"
#include "ui/win32/MainDialogWindow.h"
#include "ui/win32/Win32DialogView.h"
#include "unit/GatedThreads.h"

namespace norvale::testing {

inline std::wstring windowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Polls `done` for up to `timeout`.
template <class Predicate>
bool waitUntil(Predicate done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        Sleep(5);
    }
    return true;
}

// Runs dialog template 1 (linked into the test program) with DialogBoxParamW on a thread of its
// own, exactly as the programs run it, with no phone attached and no monitor. Command workers
// wait at the gate of `threads` until the test opens it. The test thread reaches the window only
// by messages, as the monitor and the workers do.
class DialogHarness {
public:
    DialogHarness() {
        INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        ui_ = std::thread([this] {
            uiThreadId_.set_value(GetCurrentThreadId());
            result_.set_value(runMainDialog(GetModuleHandleW(nullptr), binding));
        });
        uiThread = uiThreadId_.get_future().get();
        dialogResult = result_.get_future().share();
        const bool opened = waitUntil([this] {
            return view.window() != nullptr ||
                   dialogResult.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
        dialog = view.window();
        if (!opened || dialog == nullptr) {
            ADD_FAILURE() << "the dialog did not open";
            return;
        }
        // A sent message is handled only once the dialog's own loop runs, after WM_INITDIALOG.
        SendMessageW(dialog, WM_NULL, 0, 0);
    }

    ~DialogHarness() {
        if (dialog != nullptr && IsWindow(dialog)) {
            SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        ui_.join();
        threads.open();
        sim.threads.joinAll();
    }
    DialogHarness(const DialogHarness&) = delete;
    DialogHarness& operator=(const DialogHarness&) = delete;

    HWND item(int id) const { return GetDlgItem(dialog, id); }
    std::wstring logText() const { return windowText(item(1000)); }
    // A click as the operator's: the button itself turns it into its WM_COMMAND.
    void click(int id) const { SendMessageW(item(id), BM_CLICK, 0, 0); }
    bool closed() const {
        return dialogResult.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }

    SimPlatform sim{SimPlatform::Phone::none};
    GatedThreads threads{sim.threads};
    Platform platform{sim.driver, sim.driver,  sim.driver, sim.driver,
                      sim.files,  sim.chooser, sim.clock,  threads};
    SessionState state;
    Win32DialogView view;
    ViewLog log{view};
    Services services{state, log, platform, view};
    MainDialog controller{services, CommandBodies{}, PresenceHooks{}};
    MainDialogBinding binding{view, controller};

    HWND dialog = nullptr;
    DWORD uiThread = 0;
    std::shared_future<INT_PTR> dialogResult;

private:
    std::promise<DWORD> uiThreadId_;
    std::promise<INT_PTR> result_;
    std::thread ui_;
};

}  // namespace norvale::testing
