// The dialog view over the real dialog window: log pane, status bar and address fields.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "platform/DialogView.h"

namespace norvale {

// The dialog's private message that runs one log append on the UI thread; lParam points at the
// UTF-16 text, which lives until the sending call returns.
inline constexpr UINT kAppendLogMessage = WM_APP + 1;

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

    // kAppendLogMessage's work, on the UI thread.
    void appendOnUiThread(const std::wstring& text);

private:
    std::atomic<HWND> dialog_{nullptr};
    HWND statusBar_ = nullptr;  // UI thread only
};

}  // namespace norvale
