// Dialog template 1 as compiled into the program, and the window the dialog manager makes of it.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <ostream>
#include <string>
#include <vector>

#include "win32/DialogHarness.h"

namespace norvale {
namespace {

using testing::DialogHarness;
using testing::windowText;

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

struct ControlRow {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    short x, y, cx, cy;
    DWORD style;
};

// The controls in template order, which is the tab order.
const ControlRow kControls[] = {
    {1000, L"Edit", L"", 4, 4, 200, 150,
     kChild | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL |
         WS_BORDER | WS_TABSTOP},
    {1003, L"Button", L"Очистить лог", 218, 145, 78, 12, kChild | BS_PUSHBUTTON | WS_TABSTOP},
    {1042, L"Button", L"Режим BLANK", 314, 29, 78, 12, kChild | BS_PUSHBUTTON | WS_TABSTOP},
    {1044, L"Button", L"Запустить телефон", 314, 14, 78, 12, kChild | BS_PUSHBUTTON | WS_TABSTOP},
    {1038, L"Button", L"Записать Boot", 314, 59, 78, 12, kChild | BS_PUSHBUTTON | WS_TABSTOP},
    {1039, L"Button", L"Записать Panic", 314, 74, 78, 12, kChild | BS_PUSHBUTTON | WS_TABSTOP},
    {1037, L"Button", L"Записать PDS", 314, 89, 78, 12, kChild | BS_PUSHBUTTON | WS_TABSTOP},
    {1041, L"Button", L"Записать б. блок", 218, 104, 78, 12, kChild | BS_PUSHBUTTON | WS_TABSTOP},
    {1043, L"Button", L"Прочитать данные", 218, 119, 78, 12, kChild | BS_PUSHBUTTON | WS_TABSTOP},
    {1007, L"Edit", L"", 344, 104, 48, 12, kChild | ES_LEFT | WS_BORDER | WS_TABSTOP},
    {1004, L"Edit", L"", 344, 119, 48, 12, kChild | ES_LEFT | WS_BORDER | WS_TABSTOP},
    {-1, L"Static", L"Начало:", 306, 104, 30, 9, kChild | SS_LEFT | WS_GROUP},
    {-1, L"Static", L"Конец:", 306, 119, 30, 9, kChild | SS_LEFT | WS_GROUP},
    {-1, L"Button", L"Операции над телефоном", 210, 4, 195, 140, kChild | BS_GROUPBOX},
};

constexpr DWORD kDialogStyle =
    WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT;
const wchar_t kCaption[] = L"Norvale      v 0.5";

// Reads a DLGTEMPLATE (the classic form) and its items.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : at_(data) {}

    template <class T>
    T take() {
        T value;
        std::memcpy(&value, at_, sizeof(T));
        at_ += sizeof(T);
        return value;
    }
    // A name or ordinal field: 0 = none, 0xFFFF + ordinal, or a UTF-16 string.
    std::wstring nameOrOrdinal() {
        const WORD first = peekWord();
        if (first == 0xFFFF) {
            take<WORD>();
            return L"#" + std::to_wstring(take<WORD>());
        }
        return string();
    }
    std::wstring string() {
        std::wstring text;
        for (WORD unit = take<WORD>(); unit != 0; unit = take<WORD>()) text += wchar_t(unit);
        return text;
    }
    void alignToDword(const BYTE* base) {
        while ((at_ - base) % 4 != 0) ++at_;
    }

private:
    WORD peekWord() const {
        WORD value;
        std::memcpy(&value, at_, sizeof value);
        return value;
    }
    const BYTE* at_;
};

// The predefined control classes of a template, by ordinal.
std::wstring classOf(const std::wstring& field) {
    if (field == L"#128") return L"Button";
    if (field == L"#129") return L"Edit";
    if (field == L"#130") return L"Static";
    return field;
}

bool sameClass(std::wstring a, std::wstring b) {
    for (auto& c : a) c = static_cast<wchar_t>(std::towlower(c));
    for (auto& c : b) c = static_cast<wchar_t>(std::towlower(c));
    return a == b;
}

TEST(DialogTemplate, HeaderAndEveryControlAreExactlyAsDesigned) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(5));  // RT_DIALOG
    ASSERT_NE(found, nullptr);
    const auto* base = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    ASSERT_NE(base, nullptr);
    ASSERT_NE(*reinterpret_cast<const WORD*>(base + 2), 0xFFFF) << "expected the classic form";

    TemplateReader in(base);
    EXPECT_EQ(in.take<DWORD>(), kDialogStyle);
    EXPECT_EQ(in.take<DWORD>(), 0u);  // extended style
    const WORD count = in.take<WORD>();
    ASSERT_EQ(count, std::size(kControls));
    EXPECT_EQ(in.take<short>(), 20);
    EXPECT_EQ(in.take<short>(), 20);
    EXPECT_EQ(in.take<short>(), 413);
    EXPECT_EQ(in.take<short>(), 170);
    EXPECT_EQ(in.nameOrOrdinal(), L"");  // no menu
    EXPECT_EQ(in.nameOrOrdinal(), L"");  // the standard dialog class
    EXPECT_EQ(in.string(), kCaption);
    EXPECT_EQ(in.take<WORD>(), 8);
    EXPECT_EQ(in.string(), L"Arial");

    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.id);
        in.alignToDword(base);
        EXPECT_EQ(in.take<DWORD>(), row.style);
        EXPECT_EQ(in.take<DWORD>(), 0u);
        EXPECT_EQ(in.take<short>(), row.x);
        EXPECT_EQ(in.take<short>(), row.y);
        EXPECT_EQ(in.take<short>(), row.cx);
        EXPECT_EQ(in.take<short>(), row.cy);
        EXPECT_EQ(in.take<WORD>(), static_cast<WORD>(row.id));
        EXPECT_PRED2(sameClass, classOf(in.nameOrOrdinal()), row.className);
        EXPECT_EQ(in.nameOrOrdinal(), row.text);
        EXPECT_EQ(in.take<WORD>(), 0);  // no creation data
    }
}

// Control rectangle in client pixels of the dialog.
RECT clientRectOf(HWND control, HWND dialog) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Position and size in pixels, each mapped from dialog units on its own, as the dialog manager
// places a control (so right = left + width, which may differ by one from mapping x + cx).
struct PixelBox {
    long x, y, cx, cy;
    friend bool operator==(const PixelBox&, const PixelBox&) = default;
};

PixelBox dialogUnits(HWND dialog, int x, int y, int cx, int cy) {
    RECT rect{x, y, cx, cy};
    MapDialogRect(dialog, &rect);
    return {rect.left, rect.top, rect.right, rect.bottom};
}

void PrintTo(const PixelBox& box, std::ostream* out) {
    *out << "(" << box.x << ", " << box.y << ", " << box.cx << " x " << box.cy << ")";
}

TEST(DialogWindow, OpensWithItsCaptionStyleAndSize) {
    DialogHarness ui;
    ASSERT_NE(ui.dialog, nullptr);
    EXPECT_EQ(windowText(ui.dialog), kCaption);
    const auto style = static_cast<DWORD>(GetWindowLongW(ui.dialog, GWL_STYLE));
    const DWORD expected = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME;
    EXPECT_EQ(style & expected, expected);
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME | WS_CHILD), 0u);
    EXPECT_EQ(GetMenu(ui.dialog), nullptr);
    EXPECT_EQ(GetWindow(ui.dialog, GW_OWNER), nullptr);

    RECT client;
    GetClientRect(ui.dialog, &client);
    EXPECT_EQ((PixelBox{0, 0, client.right, client.bottom}),
              dialogUnits(ui.dialog, 0, 0, 413, 170));

    // The log, the first tab stop, has the focus.
    GUITHREADINFO info{sizeof info};
    ASSERT_TRUE(GetGUIThreadInfo(ui.uiThread, &info));
    EXPECT_EQ(info.hwndFocus, ui.item(1000));
}

TEST(DialogWindow, EveryControlExistsInTabOrderWithItsIdClassTextStyleAndRectangle) {
    DialogHarness ui;
    ASSERT_NE(ui.dialog, nullptr);
    std::vector<HWND> controls;
    for (HWND child = GetWindow(ui.dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[64] = {};
        GetClassNameW(child, name, 64);
        if (!sameClass(name, STATUSCLASSNAMEW)) controls.push_back(child);
    }
    ASSERT_EQ(controls.size(), std::size(kControls));

    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ControlRow& row = kControls[i];
        HWND control = controls[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(static_cast<WORD>(GetDlgCtrlID(control)), static_cast<WORD>(row.id));
        wchar_t name[64] = {};
        GetClassNameW(control, name, 64);
        EXPECT_PRED2(sameClass, name, row.className);
        if (row.id != 1007 && row.id != 1004) EXPECT_EQ(windowText(control), row.text);

        const auto style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
        // The dialog manager may trade WS_BORDER for a sunken client edge in a 3-D dialog.
        const DWORD border =
            style & WS_BORDER
                ? WS_BORDER
                : (GetWindowLongW(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE ? (row.style & WS_BORDER)
                                                                           : 0);
        EXPECT_EQ((style & ~WS_BORDER) | border, row.style);

        const RECT actual = clientRectOf(control, ui.dialog);
        EXPECT_EQ((PixelBox{actual.left, actual.top, actual.right - actual.left,
                            actual.bottom - actual.top}),
                  dialogUnits(ui.dialog, row.x, row.y, row.cx, row.cy));
    }
}

TEST(DialogWindow, StatusBarHasThreePartsAndShowsNotConnected) {
    DialogHarness ui;
    HWND status = ui.item(1018);
    ASSERT_NE(status, nullptr);
    wchar_t name[64] = {};
    GetClassNameW(status, name, 64);
    EXPECT_PRED2(sameClass, name, STATUSCLASSNAMEW);
    EXPECT_TRUE(IsWindowVisible(status));

    int edges[8] = {};
    EXPECT_EQ(SendMessageW(status, SB_GETPARTS, 8, reinterpret_cast<LPARAM>(edges)), 3);
    EXPECT_EQ(edges[0], 80);
    EXPECT_EQ(edges[1], 256);
    EXPECT_EQ(edges[2], -1);

    wchar_t text[64] = {};
    SendMessageW(status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, L"Не подключен");
    for (int part = 1; part < 3; ++part) {
        EXPECT_EQ(LOWORD(SendMessageW(status, SB_GETTEXTLENGTHW, part, 0)), 0) << part;
    }
}

TEST(DialogWindow, AddressFieldsHoldTheirDefaultsAndAtMostEightCharacters) {
    DialogHarness ui;
    EXPECT_EQ(windowText(ui.item(1007)), L"10010000");
    EXPECT_EQ(windowText(ui.item(1004)), L"1001FFFF");
    EXPECT_EQ(ui.view.fieldText(AddressField::start), "10010000");
    EXPECT_EQ(ui.view.fieldText(AddressField::end), "1001FFFF");

    for (const int id : {1007, 1004}) {
        SCOPED_TRACE(id);
        HWND field = ui.item(id);
        EXPECT_EQ(SendMessageW(field, EM_GETLIMITTEXT, 0, 0), 8);
        // The operator selects everything and types ten characters: eight are taken.
        SendMessageW(field, EM_SETSEL, 0, -1);
        for (const wchar_t c : std::wstring(L"ABCDEF0123")) SendMessageW(field, WM_CHAR, c, 0);
        EXPECT_EQ(windowText(field), L"ABCDEF01");
    }
    EXPECT_EQ(ui.view.fieldText(AddressField::start), "ABCDEF01");

    // A longer text set by a program is read back through an 8-character buffer.
    SetWindowTextW(ui.item(1007), L"1234567890");
    EXPECT_EQ(ui.view.fieldText(AddressField::start), "12345678");
}

}  // namespace
}  // namespace norvale
