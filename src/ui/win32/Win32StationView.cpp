// The station view over the real station window.
#include "ui/win32/Win32StationView.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>

#include "ui/StationTexts.h"
#include "ui/resources/resource.h"
#include "ui/win32/StationLayout.h"
#include "ui/win32/WideText.h"

namespace norvale {
namespace {

constexpr UINT_PTR kRedrawTimer = 1;
constexpr int kPathChars = 1024;

// Column widths in dialog units, so that they follow the font as the template does.
constexpr int kColumnWidths[kStationColumns] = {58, 26, 24, 62, 64, 80, 42, 34, 90};

constexpr COLORREF kFailedBackground = RGB(255, 205, 205);
constexpr COLORREF kDoneBackground = RGB(222, 242, 222);
constexpr COLORREF kBarFill = RGB(6, 176, 37);
constexpr COLORREF kBarFailedFill = RGB(218, 38, 38);
constexpr COLORREF kBarStoppedFill = RGB(150, 150, 150);
constexpr COLORREF kBarFrame = RGB(160, 160, 160);
constexpr COLORREF kGridLine = RGB(224, 224, 224);
constexpr COLORREF kAlarmText = RGB(200, 0, 0);

int dialogUnitsToPixels(HWND window, int units) {
    RECT rect{0, 0, units, 0};
    MapDialogRect(window, &rect);
    return rect.right;
}

HWND phoneList(HWND window) { return GetDlgItem(window, IDC_ST_PHONES); }
HWND placeList(HWND window) { return GetDlgItem(window, IDC_ST_PLACES); }

// The log window: modeless, so the station window stays usable beside it; it lays out its
// field on every size and tells the view when it goes.
INT_PTR CALLBACK logDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: SetWindowLongPtrW(dialog, DWLP_USER, lParam); return TRUE;
        case WM_SIZE: {
            RECT client{};
            GetClientRect(dialog, &client);
            RECT button{};
            GetWindowRect(GetDlgItem(dialog, IDOK), &button);
            const int width = button.right - button.left;
            const int height = button.bottom - button.top;
            const int margin = height / 3;
            SetWindowPos(GetDlgItem(dialog, IDC_ST_LOG), nullptr, margin, margin,
                         client.right - 2 * margin, client.bottom - height - 3 * margin,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            SetWindowPos(GetDlgItem(dialog, IDOK), nullptr, client.right - margin - width,
                         client.bottom - margin - height, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                DestroyWindow(dialog);
                return TRUE;
            }
            return FALSE;
        case WM_DESTROY:
            if (auto* view =
                    reinterpret_cast<Win32StationView*>(GetWindowLongPtrW(dialog, DWLP_USER))) {
                view->logClosed();
            }
            return FALSE;
        default: return FALSE;
    }
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

// Windows 10's per-window DPI; older systems have one DPI for every screen.
UINT windowDpi(HWND window) {
    static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32"), "GetDpiForWindow")));
    if (getDpi != nullptr) {
        if (const UINT dpi = getDpi(window)) return dpi;
    }
    HDC dc = GetDC(window);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

BOOL CALLBACK setFontOf(HWND child, LPARAM font) {
    SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
    return TRUE;
}

// Column widths are kept at 96 DPI, so a layout saved on one screen fits another.
int scaled(int pixels, UINT to, UINT from) {
    return MulDiv(pixels, static_cast<int>(to), static_cast<int>(from));
}

// The phone list's mouse moves reach its tooltip and the view.
LRESULT CALLBACK phoneListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR data) {
    if (message == WM_MOUSEMOVE) {
        reinterpret_cast<Win32StationView*>(data)->trackCell(
            POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

}  // namespace

void Win32StationView::attach(HWND window) {
    window_ = window;
    dpi_ = windowDpi(window);
    // Windows 10 would scale a per-monitor dialog's font and controls by itself on a DPI change;
    // this window lays itself out from its texts instead (changeDpi), so that is turned off.
    using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
    constexpr int kDisableAll = 1;  // DDC_DISABLE_ALL
    if (const auto setBehaviour =
            reinterpret_cast<SetDialogDpiChangeBehaviorFn>(reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleW(L"user32"), "SetDialogDpiChangeBehavior")))) {
        setBehaviour(window, kDisableAll, kDisableAll);
    }
    // A tooltip over the phone list that shows a cut cell's whole text (LPSTR_TEXTCALLBACK: the
    // text is asked for when it shows).
    HWND list = phoneList(window);
    tip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
    if (tip_ != nullptr) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = window;
        tool.uId = reinterpret_cast<UINT_PTR>(list);
        tool.lpszText = LPSTR_TEXTCALLBACKW;
        SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, 600);
        SetWindowSubclass(list, phoneListProc, 1, reinterpret_cast<DWORD_PTR>(this));
    }
}

HFONT Win32StationView::font() const {
    if (scaledFont_) return static_cast<HFONT>(scaledFont_.get());
    return reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0));
}

void Win32StationView::layout() {
    if (window_ == nullptr) return;
    minimum_ = layoutStationWindow(window_, font());
    // The last column, the result with its reason, takes what the list has left over.
    HWND list = phoneList(window_);
    RECT room{};
    GetClientRect(list, &room);
    int used = 0;
    for (std::size_t c = 0; c + 1 < kStationColumns; ++c) used += columnWidths_[c];
    if (room.right - used > columnWidths_[kStationColumns - 1]) {
        ListView_SetColumnWidth(list, static_cast<int>(kStationColumns) - 1, room.right - used);
        readColumnWidths();
    }
    // A window smaller than its texts need (the template's size, a longer language, a larger
    // font) grows to fit them; the WM_SIZE that follows lays it out again.
    RECT client{};
    GetClientRect(window_, &client);
    if (!IsZoomed(window_) && !IsIconic(window_) &&
        (client.right < minimum_.cx || client.bottom < minimum_.cy)) {
        RECT frame{0, 0, std::max<LONG>(client.right, minimum_.cx),
                   std::max<LONG>(client.bottom, minimum_.cy)};
        AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)));
        SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void Win32StationView::limitSize(MINMAXINFO& limits) const {
    if (minimum_.cx <= 0) return;
    RECT frame{0, 0, minimum_.cx, minimum_.cy};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)));
    limits.ptMinTrackSize = POINT{frame.right - frame.left, frame.bottom - frame.top};
}

void Win32StationView::changeDpi(UINT dpi, const RECT& suggested) {
    if (dpi == 0 || dpi == dpi_) return;
    LOGFONTW shape{};
    GetObjectW(font(), sizeof shape, &shape);
    shape.lfHeight = scaled(shape.lfHeight, dpi, dpi_);
    UniqueResource<GdiObjectTraits> next{CreateFontIndirectW(&shape)};
    if (next) {
        SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(next.get()), FALSE);
        EnumChildWindows(window_, setFontOf, reinterpret_cast<LPARAM>(next.get()));
        scaledFont_ = std::move(next);  // the old font goes once nothing uses it
    }
    HWND list = phoneList(window_);
    for (int c = 0; c < static_cast<int>(kStationColumns); ++c) {
        ListView_SetColumnWidth(list, c, scaled(ListView_GetColumnWidth(list, c), dpi, dpi_));
    }
    dpi_ = dpi;
    readColumnWidths();
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    layout();
    InvalidateRect(window_, nullptr, TRUE);
}

std::string Win32StationView::windowLayout() {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(window_, &placement)) return {};
    const RECT& r = placement.rcNormalPosition;
    std::string text = std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                       std::to_string(r.right) + " " + std::to_string(r.bottom) + " " +
                       (placement.showCmd == SW_SHOWMAXIMIZED ? "1" : "0");
    HWND list = phoneList(window_);
    for (int c = 0; c < static_cast<int>(kStationColumns); ++c) {
        text += " " + std::to_string(scaled(ListView_GetColumnWidth(list, c), 96, dpi_));
    }
    return text;
}

void Win32StationView::setWindowLayout(std::string_view saved) {
    int v[5 + kStationColumns] = {};
    std::size_t count = 0;
    std::string text(saved);
    const char* at = text.c_str();
    int used = 0;
    while (count < std::size(v) && std::sscanf(at, "%d%n", &v[count], &used) == 1) {
        at += used;
        ++count;
    }
    if (count != std::size(v)) return;
    const RECT place{v[0], v[1], v[2], v[3]};
    // A place on a screen no longer there would put the window out of reach.
    if (place.right - place.left < 100 || place.bottom - place.top < 100 ||
        MonitorFromRect(&place, MONITOR_DEFAULTTONULL) == nullptr) {
        return;
    }
    HWND list = phoneList(window_);
    for (int c = 0; c < static_cast<int>(kStationColumns); ++c) {
        if (v[5 + c] > 0 && v[5 + c] < 4000) {
            ListView_SetColumnWidth(list, c, scaled(v[5 + c], dpi_, 96));
        }
    }
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(window_, &placement);
    placement.rcNormalPosition = place;
    placement.showCmd = v[4] != 0 ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    SetWindowPlacement(window_, &placement);
    readColumnWidths();
    layout();
}

void Win32StationView::blockShutdown(bool blocked) {
    if (blocked) {
        ShutdownBlockReasonCreate(
            window_, wideFromUtf8(stationText(StationText::shutdownReason, language_)).c_str());
    } else {
        ShutdownBlockReasonDestroy(window_);
    }
}

int Win32StationView::selectedRow() const {
    return ListView_GetNextItem(phoneList(window_), -1, LVNI_SELECTED);
}

int Win32StationView::rowFromMenu(POINT screen) const {
    HWND list = phoneList(window_);
    int row = -1;
    if (screen.x == -1 && screen.y == -1) {
        // Shift+F10 or the menu key: under the selected row.
        row = selectedRow();
        RECT item{};
        if (row < 0 || !ListView_GetItemRect(list, row, &item, LVIR_LABEL)) return -1;
        screen = POINT{item.left, item.bottom};
        ClientToScreen(list, &screen);
    } else {
        LVHITTESTINFO hit{};
        hit.pt = screen;
        ScreenToClient(list, &hit.pt);
        row = ListView_HitTest(list, &hit);
        if (row < 0) return -1;
        ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
    }
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return -1;
    AppendMenuW(menu, MF_STRING, 1,
                wideFromUtf8(stationText(StationText::showLog, language_)).c_str());
    const int chosen =
        static_cast<int>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON,
                                        screen.x, screen.y, 0, window_, nullptr));
    DestroyMenu(menu);
    return chosen == 1 ? row : -1;
}

void Win32StationView::trackCell(POINT client) {
    LVHITTESTINFO hit{};
    hit.pt = client;
    ListView_SubItemHitTest(phoneList(window_), &hit);
    const std::pair<int, int> cell{hit.iItem, hit.iSubItem};
    if (cell == tipCell_) return;
    tipCell_ = cell;
    // A new cell: the shown tip goes, and the next one asks for its text afresh.
    SendMessageW(tip_, TTM_POP, 0, 0);
    SendMessageW(tip_, TTM_UPDATE, 0, 0);
}

void Win32StationView::fillTip(NMTTDISPINFOW& info) const {
    info.lpszText = const_cast<wchar_t*>(L"");
    const auto [row, column] = tipCell_;
    if (row < 0 || column < 0 || static_cast<std::size_t>(row) >= wideRows_.size() ||
        column >= static_cast<int>(kStationColumns) ||
        column == static_cast<int>(StationColumn::progress)) {
        return;
    }
    const std::wstring& text =
        wideRows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
    HWND list = phoneList(window_);
    RECT cell{};
    ListView_GetSubItemRect(list, row, column, LVIR_LABEL, &cell);
    HDC dc = GetDC(list);
    const int width =
        textWidth(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)), text.c_str());
    ReleaseDC(list, dc);
    // Only a cell its column cuts: the list's own cell padding is about a dozen pixels.
    if (width + MulDiv(12, static_cast<int>(dpi_), 96) > cell.right - cell.left) {
        info.lpszText = const_cast<wchar_t*>(text.c_str());
    }
}

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

void Win32StationView::show(int control, bool shown) {
    HWND item = GetDlgItem(window_, control);
    if ((IsWindowVisible(item) != FALSE) == shown) return;
    ShowWindow(item, shown ? SW_SHOWNA : SW_HIDE);
    // The phone list moves down for the line, or back up.
    layout();
}

HBRUSH Win32StationView::colorStatic(HDC dc, HWND control) const {
    if (GetDlgCtrlID(control) != IDC_ST_JOURNAL_ALARM) return nullptr;
    SetTextColor(dc, kAlarmText);
    SetBkMode(dc, TRANSPARENT);
    return GetSysColorBrush(COLOR_BTNFACE);
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
    ListView_SetExtendedListViewStyleEx(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER,
                                        LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    for (std::size_t i = 0; i < kStationColumns; ++i) {
        std::wstring header = wideFromUtf8(headers[i]);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        // As wide as the template says, or as the header's text needs in the window's font.
        HDC dc = GetDC(list);
        const int needed =
            textWidth(dc, font(), header.c_str()) + MulDiv(16, static_cast<int>(dpi_), 96);
        ReleaseDC(list, dc);
        column.cx = std::max(dialogUnitsToPixels(window_, kColumnWidths[i]), needed);
        column.pszText = header.data();
        column.iSubItem = static_cast<int>(i);
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    readColumnWidths();
}

void Win32StationView::readColumnWidths() {
    HWND list = phoneList(window_);
    for (std::size_t c = 0; c < kStationColumns; ++c) {
        columnWidths_[c] = ListView_GetColumnWidth(list, static_cast<int>(c));
    }
}

void Win32StationView::showRows(const std::vector<StationRowCells>& rows) {
    HWND list = phoneList(window_);
    const std::size_t shown = rows_.size();
    rows_.resize(rows.size());
    wideRows_.resize(rows.size());
    // Only the block of cells whose text or bar changed is repainted: a tick of phones in a
    // transfer changes a few columns of each row, not the whole list. One rectangle around them
    // all, because every invalidation is a round trip to the window system.
    int firstRow = -1;
    int lastRow = -1;
    int firstColumn = static_cast<int>(kStationColumns);
    int lastColumn = -1;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i < shown && rows_[i] == rows[i]) continue;
        const bool lookChanged = i >= shown || rows_[i].look != rows[i].look;
        for (std::size_t c = 0; c < kStationColumns; ++c) {
            const bool barChanged =
                c == static_cast<std::size_t>(StationColumn::progress) &&
                (i >= shown || rows_[i].progressPermille != rows[i].progressPermille);
            const bool textChanged = i >= shown || rows_[i].cells[c] != rows[i].cells[c];
            if (textChanged) wideRows_[i][c] = wideFromUtf8(rows[i].cells[c]);
            // New rows are painted by the count's change.
            if (i >= shown || !(lookChanged || textChanged || barChanged)) continue;
            if (firstRow < 0) firstRow = static_cast<int>(i);
            lastRow = static_cast<int>(i);
            firstColumn = std::min(firstColumn, static_cast<int>(c));
            lastColumn = std::max(lastColumn, static_cast<int>(c));
        }
        rows_[i] = rows[i];
    }
    if (rows.size() != shown) {
        SendMessageW(list, LVM_SETITEMCOUNT, rows.size(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    }
    if (firstRow < 0) return;
    RECT first{};
    RECT last{};
    if (!ListView_GetSubItemRect(list, firstRow, firstColumn, LVIR_BOUNDS, &first) ||
        !ListView_GetSubItemRect(list, lastRow, lastColumn, LVIR_BOUNDS, &last)) {
        return;
    }
    // The first column's bounds are the whole row's.
    if (lastColumn == 0) last.right = last.left + ListView_GetColumnWidth(list, 0);
    const RECT block{first.left, first.top, last.right, last.bottom};
    InvalidateRect(list, &block, FALSE);
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

void Win32StationView::drawRow(const DRAWITEMSTRUCT& item) const {
    const auto row = static_cast<std::size_t>(item.itemID);
    if (row >= rows_.size()) return;
    const StationRowCells& cells = rows_[row];
    HWND list = item.hwndItem;
    HDC dc = item.hDC;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    const COLORREF background = selected ? GetSysColor(COLOR_HIGHLIGHT)
                                : cells.look == StationRowCells::Look::failed ? kFailedBackground
                                : cells.look == StationRowCells::Look::done
                                    ? kDoneBackground
                                    : GetSysColor(COLOR_WINDOW);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    SetBkColor(dc, background);
    // Only the cells the paint asks for: a tick repaints the few columns that changed.
    RECT clip{};
    GetClipBox(dc, &clip);
    const int pad = MulDiv(6, static_cast<int>(dpi_), 96);
    // Every cell's text is one line of the list's font: one height centres them all.
    TEXTMETRICW font{};
    GetTextMetricsW(dc, &font);
    RECT cell = item.rcItem;
    for (std::size_t c = 0; c < kStationColumns; ++c) {
        cell.left = c == 0 ? item.rcItem.left : cell.right;
        cell.right = cell.left + columnWidths_[c];
        if (cell.right <= clip.left || cell.left >= clip.right) continue;
        // A grid line at each cell's right and bottom edge, as the list's own grid draws them.
        RECT inside = cell;
        inside.right -= 1;
        inside.bottom -= 1;
        SetDCBrushColor(dc, kGridLine);
        const RECT right{inside.right, cell.top, cell.right, cell.bottom};
        const RECT bottom{cell.left, inside.bottom, cell.right, cell.bottom};
        FillRect(dc, &right, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
        FillRect(dc, &bottom, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
        if (c == static_cast<std::size_t>(StationColumn::progress)) {
            drawProgress(dc, inside, background, cells);
            continue;
        }
        // The background and the text in one call, the text clipped to its cell; a cut text is
        // read whole in the cell's tooltip.
        const std::wstring& text = wideRows_[row][c];
        RECT textRect = inside;
        textRect.left += pad;
        ExtTextOutW(dc, textRect.left,
                    inside.top + (inside.bottom - inside.top - font.tmHeight) / 2,
                    ETO_OPAQUE | ETO_CLIPPED, &inside, text.c_str(), static_cast<UINT>(text.size()),
                    nullptr);
    }
    if ((item.itemState & ODS_FOCUS) != 0 && GetFocus() == list) {
        DrawFocusRect(dc, &item.rcItem);
    }
}

void Win32StationView::drawProgress(HDC dc, const RECT& cell, COLORREF background,
                                    const StationRowCells& row) const {
    // The DC's own brush, recoloured: no brush is made per cell and paint.
    const auto fill = [dc](const RECT& rect, COLORREF color) {
        SetDCBrushColor(dc, color);
        FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    };
    fill(cell, background);
    RECT bar = cell;
    InflateRect(&bar, -3, -3);
    if (bar.right <= bar.left || bar.bottom <= bar.top) return;
    SetDCBrushColor(dc, kBarFrame);
    FrameRect(dc, &bar, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    RECT filled = bar;
    InflateRect(&filled, -1, -1);
    const LONG width = filled.right - filled.left;
    filled.right =
        filled.left + static_cast<LONG>(width * std::min(row.progressPermille, 1000u) / 1000);
    if (filled.right > filled.left) {
        fill(filled, row.look == StationRowCells::Look::failed    ? kBarFailedFill
                     : row.look == StationRowCells::Look::stopped ? kBarStoppedFill
                                                                  : kBarFill);
    }
}

void Win32StationView::showOverall(std::uint64_t done, std::uint64_t total, bool failed) {
    taskbar_.show(window_, done, total, failed);
}

void Win32StationView::endOverall() { taskbar_.end(window_); }

std::optional<std::string> Win32StationView::chooseImageFile() {
    return chooseFile(StationText::imageFilter, L"", nullptr, FileDialog::open);
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
    return utf8FromWide(path);
}

std::optional<std::string> Win32StationView::chooseRecipeFile(bool save) {
    return chooseFile(StationText::recipeFilter, L"", L"toml",
                      save ? FileDialog::saveNew : FileDialog::open);
}

std::optional<std::string> Win32StationView::chooseJournalFile() {
    // A journal is appended to, never replaced: an existing one is a fine choice.
    return chooseFile(StationText::journalFilter, L"journal.jsonl", L"jsonl", FileDialog::saveNew);
}

std::optional<std::string> Win32StationView::chooseFile(StationText filterText,
                                                        std::wstring_view initial,
                                                        const wchar_t* extension, FileDialog kind) {
    const std::wstring wideFilter = wideFromUtf8(stationText(filterText, language_)) + L'\0';
    wchar_t path[kPathChars] = {};
    initial.copy(path, kPathChars - 1);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = wideFilter.c_str();
    dialog.lpstrFile = path;
    dialog.nMaxFile = kPathChars;
    dialog.lpstrDefExt = extension;
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (kind == FileDialog::open) {
        dialog.Flags |= OFN_FILEMUSTEXIST;
        if (!GetOpenFileNameW(&dialog)) return std::nullopt;
    } else if (!GetSaveFileNameW(&dialog)) {
        return std::nullopt;
    }
    return utf8FromWide(path);
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
    if (!log_) {
        log_.reset(CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_STATION_LOG),
                                      window_, logDialogProc, reinterpret_cast<LPARAM>(this)));
        if (!log_) return;
        SendMessageW(log_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font()), TRUE);
        EnumChildWindows(log_.get(), setFontOf, reinterpret_cast<LPARAM>(font()));
        ShowWindow(log_.get(), SW_SHOW);
    }
    std::string joined;
    for (const std::string& line : lines) joined.append(line).append("\r\n");
    SetWindowTextW(log_.get(), wideFromUtf8(title).c_str());
    HWND field = GetDlgItem(log_.get(), IDC_ST_LOG);
    SetWindowTextW(field, wideFromUtf8(joined).c_str());
    // The newest line in view, as a log that follows the phone reads.
    const LRESULT length = GetWindowTextLengthW(field);
    SendMessageW(field, EM_SETSEL, static_cast<WPARAM>(length), length);
    SendMessageW(field, EM_SCROLLCARET, 0, 0);
}

std::string Win32StationView::currentFolder() {
    wchar_t folder[kPathChars] = {};
    const DWORD length = GetCurrentDirectoryW(kPathChars, folder);
    if (length == 0 || length >= kPathChars) return ".";
    return utf8FromWide(folder);
}

void Win32StationView::startTimer(unsigned ms) { SetTimer(window_, kRedrawTimer, ms, nullptr); }

void Win32StationView::stopTimer() { KillTimer(window_, kRedrawTimer); }

void Win32StationView::close() {
    log_.reset();
    DestroyWindow(window_);
    PostQuitMessage(0);
}

}  // namespace norvale
