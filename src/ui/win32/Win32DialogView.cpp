// The dialog view over the real dialog window.
#include "ui/win32/Win32DialogView.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/MainDialog.h"
#include "ui/resources/resource.h"
#include "ui/win32/Cp1251Wide.h"

namespace norvale {

namespace {

int fieldId(AddressField field) {
    return field == AddressField::start ? IDC_START_ADDRESS : IDC_END_ADDRESS;
}

// When the log is full, this share of its limit is freed at once: a change at the top of the
// text costs a repaint of the whole pane, so it is done once per few hundred lines rather than
// for every line, which keeps the cost of a line flat however long the session runs.
constexpr std::size_t kFreedShareOfLimit = 4;  // a quarter

// Makes room for `incoming` characters at the log's selection by dropping whole lines from the
// top, so that the edit control's text limit never swallows a new line. The control keeps its
// own limit; only the oldest lines give way, and the selection moves with the text it marks.
void makeRoom(HWND log, std::size_t incoming) {
    auto limit = static_cast<std::size_t>(SendMessageW(log, EM_GETLIMITTEXT, 0, 0));
    if (incoming > limit) {
        // One text longer than the whole pane: grow the pane rather than cut the text.
        SendMessageW(log, EM_SETLIMITTEXT, incoming, 0);
        limit = incoming;
    }
    DWORD selStart = 0;
    DWORD selEnd = 0;
    SendMessageW(log, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
                 reinterpret_cast<LPARAM>(&selEnd));
    const auto length = static_cast<std::size_t>(GetWindowTextLengthW(log));
    const std::size_t replaced = selEnd > selStart ? selEnd - selStart : 0;
    const std::size_t after = length - std::min(replaced, length) + incoming;
    if (after <= limit) return;

    // Cut at the start of the line after the one that holds the last character that must go.
    const std::size_t mustGo =
        std::min(length, std::max(after - limit, limit / kFreedShareOfLimit));
    if (mustGo == 0) return;
    const LRESULT line = SendMessageW(log, EM_LINEFROMCHAR, mustGo - 1, 0);
    const LRESULT nextLine = SendMessageW(log, EM_LINEINDEX, line + 1, 0);
    const std::size_t cut = nextLine < 0 ? length : static_cast<std::size_t>(nextLine);

    SendMessageW(log, EM_SETSEL, 0, static_cast<LPARAM>(cut));
    SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    const auto shift = [cut](DWORD position) {
        return position > cut ? static_cast<DWORD>(position - cut) : DWORD{0};
    };
    SendMessageW(log, EM_SETSEL, shift(selStart), static_cast<LPARAM>(shift(selEnd)));
}

}  // namespace

void Win32DialogView::appendLog(std::string_view text) {
    const std::wstring wide = wideFromCp1251(text);
    // Sent, not posted: the append runs on the UI thread, and the caller waits for it.
    SendMessageW(window(), kAppendLogMessage, 0, reinterpret_cast<LPARAM>(&wide));
}

void Win32DialogView::appendOnUiThread(const std::wstring& text) {
    HWND log = GetDlgItem(window(), IDC_LOG);
    makeRoom(log, text.size());
    // wParam FALSE: an append can't be undone by the operator.
    SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32DialogView::clearLog() { SetDlgItemTextW(window(), IDC_LOG, L""); }

void Win32DialogView::createStatusBar(std::string_view text) {
    const std::wstring wide = wideFromCp1251(text);
    statusBar_ = CreateStatusWindowW(WS_CHILD | WS_VISIBLE, wide.c_str(), window(), IDC_STATUS_BAR);
    int rightEdges[] = {80, 256, -1};
    SendMessageW(statusBar_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(rightEdges));
}

void Win32DialogView::setStatusText(std::string_view text) {
    const std::wstring wide = wideFromCp1251(text);
    SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

void Win32DialogView::limitField(AddressField field, unsigned maxChars) {
    SendDlgItemMessageW(window(), fieldId(field), EM_LIMITTEXT, maxChars, 0);
}

void Win32DialogView::setFieldText(AddressField field, std::string_view text) {
    SetDlgItemTextW(window(), fieldId(field), wideFromCp1251(text).c_str());
}

std::string Win32DialogView::fieldText(AddressField field) {
    // Eight characters and the terminator, however long the field's text is.
    wchar_t buffer[9] = {};
    const UINT length = GetDlgItemTextW(window(), fieldId(field), buffer, 9);
    return cp1251FromWide(std::wstring_view(buffer, length));
}

void Win32DialogView::sendPresence(std::uintptr_t wParam) {
    SendMessageW(window(), kPresenceMessage, wParam, 0);
}

void Win32DialogView::endDialog(std::intptr_t result) { EndDialog(window(), result); }

void Win32DialogView::showProgress(std::uint64_t done, std::uint64_t total) {
    const std::uint64_t step = total == 0 ? 0 : done * kProgressSteps / total;
    if (shownStep_.exchange(step) == step) return;
    const ProgressValue value{done, total};
    SendMessageW(window(), kShowProgressMessage, 0, reinterpret_cast<LPARAM>(&value));
}

void Win32DialogView::endProgress() {
    if (shownStep_.exchange(kNoProgress) == kNoProgress) return;
    SendMessageW(window(), kEndProgressMessage, 0, 0);
}

void Win32DialogView::showProgressOnUiThread(const ProgressValue& value) {
    taskbar_.show(window(), value.done, value.total);
}

void Win32DialogView::endProgressOnUiThread() { taskbar_.end(window()); }

}  // namespace norvale
