// The station view over the real station window.
#include "ui/win32/Win32StationView.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>

#include "ui/StationTexts.h"
#include "ui/resources/resource.h"
#include "ui/win32/WideText.h"

namespace norvale {
namespace {

constexpr UINT_PTR kRedrawTimer = 1;
constexpr int kPathChars = 1024;

// Column widths in dialog units, so that they follow the font as the template does.
constexpr int kColumnWidths[kStationColumns] = {58, 26, 24, 62, 64, 80, 42, 34, 120};

constexpr COLORREF kFailedBackground = RGB(255, 205, 205);
constexpr COLORREF kDoneBackground = RGB(222, 242, 222);
constexpr COLORREF kBarFill = RGB(6, 176, 37);
constexpr COLORREF kBarFailedFill = RGB(218, 38, 38);
constexpr COLORREF kBarStoppedFill = RGB(150, 150, 150);
constexpr COLORREF kBarFrame = RGB(160, 160, 160);

int dialogUnitsToPixels(HWND window, int units) {
    RECT rect{0, 0, units, 0};
    MapDialogRect(window, &rect);
    return rect.right;
}

HWND phoneList(HWND window) { return GetDlgItem(window, IDC_ST_PHONES); }
HWND placeList(HWND window) { return GetDlgItem(window, IDC_ST_PLACES); }

INT_PTR CALLBACK logDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            const auto* texts =
                reinterpret_cast<const std::pair<std::wstring, std::wstring>*>(lParam);
            SetWindowTextW(dialog, texts->first.c_str());
            SetDlgItemTextW(dialog, IDC_ST_LOG, texts->second.c_str());
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, 0);
                return TRUE;
            }
            return FALSE;
        default: return FALSE;
    }
}

}  // namespace

void Win32StationView::setCaption(std::string_view text) {
    SetWindowTextW(window_, wideFromUtf8(text).c_str());
}

void Win32StationView::setText(int control, std::string_view text) {
    SetDlgItemTextW(window_, control, wideFromUtf8(text).c_str());
}

std::string Win32StationView::text(int control) {
    HWND item = GetDlgItem(window_, control);
    std::wstring wide(static_cast<std::size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
    wide.resize(
        static_cast<std::size_t>(GetWindowTextW(item, wide.data(), static_cast<int>(wide.size()))));
    return utf8FromWide(wide);
}

void Win32StationView::enable(int control, bool enabled) {
    EnableWindow(GetDlgItem(window_, control), enabled ? TRUE : FALSE);
}

void Win32StationView::setChecked(int control, bool checked) {
    CheckDlgButton(window_, control, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool Win32StationView::checked(int control) {
    return IsDlgButtonChecked(window_, control) == BST_CHECKED;
}

void Win32StationView::setSteps(const std::vector<std::string>& lines) {
    HWND list = GetDlgItem(window_, IDC_ST_STEPS);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const std::string& line : lines) {
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wideFromUtf8(line).c_str()));
    }
}

int Win32StationView::selectedStep() {
    return static_cast<int>(SendDlgItemMessageW(window_, IDC_ST_STEPS, LB_GETCURSEL, 0, 0));
}

void Win32StationView::setPlaces(const std::vector<std::string>& places,
                                 const std::vector<bool>& ticked) {
    HWND list = placeList(window_);
    ListView_SetExtendedListViewStyleEx(list, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES);
    ListView_DeleteAllItems(list);
    for (std::size_t i = 0; i < places.size(); ++i) {
        std::wstring name = wideFromUtf8(places[i]);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = name.data();
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        ListView_SetCheckState(list, static_cast<UINT>(i), i < ticked.size() && ticked[i]);
    }
}

std::vector<bool> Win32StationView::placeTicks() {
    HWND list = placeList(window_);
    const int count = ListView_GetItemCount(list);
    std::vector<bool> ticks;
    for (int i = 0; i < count; ++i) ticks.push_back(ListView_GetCheckState(list, i) != 0);
    return ticks;
}

void Win32StationView::setColumns(const std::array<std::string, kStationColumns>& headers) {
    HWND list = phoneList(window_);
    ListView_SetExtendedListViewStyleEx(
        list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER,
        LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
    for (std::size_t i = 0; i < kStationColumns; ++i) {
        std::wstring header = wideFromUtf8(headers[i]);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.cx = dialogUnitsToPixels(window_, kColumnWidths[i]);
        column.pszText = header.data();
        column.iSubItem = static_cast<int>(i);
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}

void Win32StationView::showRows(const std::vector<StationRowCells>& rows) {
    HWND list = phoneList(window_);
    const std::size_t shown = rows_.size();
    rows_.resize(rows.size());
    wideRows_.resize(rows.size());
    int firstChanged = -1;
    int lastChanged = -1;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i < shown && rows_[i] == rows[i]) continue;
        rows_[i] = rows[i];
        for (std::size_t c = 0; c < kStationColumns; ++c) {
            wideRows_[i][c] = wideFromUtf8(rows[i].cells[c]);
        }
        if (i < shown) {
            if (firstChanged < 0) firstChanged = static_cast<int>(i);
            lastChanged = static_cast<int>(i);
        }
    }
    // New rows are painted by the count's change; rows already there only where they changed.
    if (rows.size() != shown) {
        SendMessageW(list, LVM_SETITEMCOUNT, rows.size(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    }
    if (firstChanged >= 0) ListView_RedrawItems(list, firstChanged, lastChanged);
}

void Win32StationView::fillCell(NMLVDISPINFOW& info) const {
    const auto row = static_cast<std::size_t>(info.item.iItem);
    const auto column = static_cast<std::size_t>(info.item.iSubItem);
    if ((info.item.mask & LVIF_TEXT) == 0 || row >= wideRows_.size() || column >= kStationColumns ||
        info.item.cchTextMax <= 0) {
        return;
    }
    const std::wstring& text = wideRows_[row][column];
    const std::size_t room = static_cast<std::size_t>(info.item.cchTextMax) - 1;
    const std::size_t length = std::min(text.size(), room);
    std::copy_n(text.data(), length, info.item.pszText);
    info.item.pszText[length] = L'\0';
}

LRESULT Win32StationView::customDraw(NMLVCUSTOMDRAW& draw) const {
    switch (draw.nmcd.dwDrawStage) {
        case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT: return CDRF_NOTIFYSUBITEMDRAW;
        case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
            const auto row = static_cast<std::size_t>(draw.nmcd.dwItemSpec);
            if (row >= rows_.size()) return CDRF_DODEFAULT;
            const StationRowCells& cells = rows_[row];
            draw.clrText = GetSysColor(COLOR_WINDOWTEXT);
            draw.clrTextBk = cells.look == StationRowCells::Look::failed ? kFailedBackground
                             : cells.look == StationRowCells::Look::done
                                 ? kDoneBackground
                                 : GetSysColor(COLOR_WINDOW);
            if (draw.iSubItem == static_cast<int>(StationColumn::progress)) {
                drawProgress(draw, cells);
                return CDRF_SKIPDEFAULT;
            }
            return CDRF_NEWFONT;
        }
        default: return CDRF_DODEFAULT;
    }
}

void Win32StationView::drawProgress(NMLVCUSTOMDRAW& draw, const StationRowCells& row) const {
    RECT cell{};
    ListView_GetSubItemRect(draw.nmcd.hdr.hwndFrom, static_cast<int>(draw.nmcd.dwItemSpec),
                            draw.iSubItem, LVIR_BOUNDS, &cell);
    HDC dc = draw.nmcd.hdc;
    HBRUSH background = CreateSolidBrush(draw.clrTextBk);
    FillRect(dc, &cell, background);
    DeleteObject(background);

    RECT bar = cell;
    InflateRect(&bar, -3, -3);
    if (bar.right <= bar.left || bar.bottom <= bar.top) return;
    HBRUSH frame = CreateSolidBrush(kBarFrame);
    FrameRect(dc, &bar, frame);
    DeleteObject(frame);
    RECT filled = bar;
    InflateRect(&filled, -1, -1);
    const LONG width = filled.right - filled.left;
    filled.right =
        filled.left + static_cast<LONG>(width * std::min(row.progressPermille, 1000u) / 1000);
    if (filled.right > filled.left) {
        const COLORREF color = row.look == StationRowCells::Look::failed    ? kBarFailedFill
                               : row.look == StationRowCells::Look::stopped ? kBarStoppedFill
                                                                            : kBarFill;
        HBRUSH fill = CreateSolidBrush(color);
        FillRect(dc, &filled, fill);
        DeleteObject(fill);
    }
}

void Win32StationView::showOverall(std::uint64_t done, std::uint64_t total, bool failed) {
    taskbar_.show(window_, done, total, failed);
}

void Win32StationView::endOverall() { taskbar_.end(window_); }

std::optional<std::string> Win32StationView::chooseImageFile() {
    const std::string_view filter = stationText(StationText::imageFilter, language_);
    const std::wstring wideFilter = wideFromUtf8(filter) + L'\0';
    wchar_t path[kPathChars] = {};
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = wideFilter.c_str();
    dialog.lpstrFile = path;
    dialog.nMaxFile = kPathChars;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&dialog)) return std::nullopt;
    return ansiFromWide(path);
}

std::optional<std::string> Win32StationView::chooseFolder(std::string_view title) {
    const std::wstring wideTitle = wideFromUtf8(title);
    BROWSEINFOW browse{};
    browse.hwndOwner = window_;
    browse.lpszTitle = wideTitle.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
    if (chosen == nullptr) return std::nullopt;
    wchar_t path[MAX_PATH] = {};
    const BOOL found = SHGetPathFromIDListW(chosen, path);
    CoTaskMemFree(chosen);
    if (!found) return std::nullopt;
    return ansiFromWide(path);
}

std::optional<std::string> Win32StationView::chooseJournalFile() {
    const std::string_view filter = stationText(StationText::journalFilter, language_);
    const std::wstring wideFilter = wideFromUtf8(filter) + L'\0';
    wchar_t path[kPathChars] = L"journal.jsonl";
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = wideFilter.c_str();
    dialog.lpstrFile = path;
    dialog.nMaxFile = kPathChars;
    dialog.lpstrDefExt = L"jsonl";
    // A journal is appended to, never replaced: an existing one is a fine choice.
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&dialog)) return std::nullopt;
    return ansiFromWide(path);
}

bool Win32StationView::ask(std::string_view question) {
    const std::wstring title = wideFromUtf8(stationText(StationText::askStopTitle, language_));
    return MessageBoxW(window_, wideFromUtf8(question).c_str(), title.c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void Win32StationView::tell(std::string_view text) {
    const std::wstring title = wideFromUtf8(stationText(StationText::askStopTitle, language_));
    MessageBoxW(window_, wideFromUtf8(text).c_str(), title.c_str(), MB_OK | MB_ICONWARNING);
}

void Win32StationView::showLog(std::string_view title, const std::vector<std::string>& lines) {
    std::string joined;
    for (const std::string& line : lines) joined.append(line).append("\r\n");
    const std::pair<std::wstring, std::wstring> texts{wideFromUtf8(title), wideFromUtf8(joined)};
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_STATION_LOG), window_,
                    logDialogProc, reinterpret_cast<LPARAM>(&texts));
}

std::string Win32StationView::pathText(const std::string& path) {
    return utf8FromWide(wideFromAnsi(path));
}

std::string Win32StationView::currentFolder() {
    wchar_t folder[kPathChars] = {};
    const DWORD length = GetCurrentDirectoryW(kPathChars, folder);
    if (length == 0 || length >= kPathChars) return ".";
    return ansiFromWide(folder);
}

void Win32StationView::startTimer(unsigned ms) { SetTimer(window_, kRedrawTimer, ms, nullptr); }

void Win32StationView::stopTimer() { KillTimer(window_, kRedrawTimer); }

void Win32StationView::close() { EndDialog(window_, 0); }

}  // namespace norvale
