// The dialog view over the real dialog window: log pane, status bar and address fields.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/DialogView.h"
#include "ui/win32/TaskbarProgress.h"

namespace norvale {

// The dialog's private message that runs one log append on the UI thread; lParam points at the
// UTF-16 text, which lives until the sending call returns.
inline constexpr UINT kAppendLogMessage = WM_APP + 1;
// The dialog's private messages that show the running command's progress on the taskbar button
// and take it off, on the UI thread; the show message's lParam points at a ProgressValue that
// lives until the sending call returns.
inline constexpr UINT kShowProgressMessage = WM_APP + 2;
inline constexpr UINT kEndProgressMessage = WM_APP + 3;

struct ProgressValue {
    std::uint64_t done = 0;
    std::uint64_t total = 0;
};

// Every text crosses into the window as UTF-16 converted from Windows-1251, through the W
// messages, so it shows correctly whatever the system's ANSI code page is.
class Win32DialogView final : public DialogView {
public:
    // The dialog procedure attaches the window at WM_INITDIALOG, before the controller runs.
    void attach(HWND dialog) { dialog_.store(dialog); }
    HWND window() const { return dialog_.load(); }

    // DialogView.
    void appendLog(std::string_view text) override;
    void clearLog() override;
    void createStatusBar(std::string_view text) override;
    void setStatusText(std::string_view text) override;
    void limitField(AddressField field, unsigned maxChars) override;
    void setFieldText(AddressField field, std::string_view text) override;
    std::string fieldText(AddressField field) override;
    void sendPresence(std::uintptr_t wParam) override;
    void endDialog(std::intptr_t result) override;
    // The worker's side of the progress: a call that would not change what the button shows
    // sends nothing, so a long read costs one message per visible step, not one per reply.
    void showProgress(std::uint64_t done, std::uint64_t total) override;
    void endProgress() override;

    // kAppendLogMessage's work, on the UI thread.
    void appendOnUiThread(const std::wstring& text);
    // kShowProgressMessage's and kEndProgressMessage's work, on the UI thread.
    void showProgressOnUiThread(const ProgressValue& value);
    void endProgressOnUiThread();

    // Where the taskbar object comes from; for tests, before the first progress.
    void setTaskbarConnector(TaskbarConnector connect) {
        taskbar_.setConnector(std::move(connect));
    }

private:
    // The taskbar button is a few dozen pixels wide: steps of a thousandth are finer than it can
    // show.
    static constexpr std::uint64_t kProgressSteps = 1000;
    static constexpr std::uint64_t kNoProgress = ~std::uint64_t{0};

    std::atomic<HWND> dialog_{nullptr};
    HWND statusBar_ = nullptr;  // UI thread only
    TaskbarProgress taskbar_;   // UI thread only
    // The step last sent to the UI thread, or kNoProgress; only the running worker writes it.
    std::atomic<std::uint64_t> shownStep_{kNoProgress};
};

}  // namespace norvale
