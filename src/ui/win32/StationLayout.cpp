// The station window's layout, computed from its texts rather than fixed in the template.
#include "ui/win32/StationLayout.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>

#include "ui/resources/resource.h"

namespace norvale {
namespace {

// The window's own units: a quarter of the font's average character width across, an eighth of
// its height down, as dialog units are, so that every gap and margin scales with the font and so
// with the screen's DPI.
struct Metrics {
    HWND window;
    HDC dc;
    HFONT font;
    int averageWidth;
    int height;

    int x(int units) const { return MulDiv(units, averageWidth, 4); }
    int y(int units) const { return MulDiv(units, height, 8); }
    int text(int control) const {
        HWND item = GetDlgItem(window, control);
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(
            GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
        return textWidth(dc, font, text.c_str());
    }
    // A push button: its text and the frame's and focus rectangle's room on both sides.
    int button(int control) const { return text(control) + x(10); }
    // A check box or radio button: the box, the gap after it and the text.
    int check(int control) const { return text(control) + x(16); }
    int widest(std::initializer_list<int> controls, int (Metrics::*width)(int) const) const {
        int widest = 0;
        for (const int control : controls) widest = std::max(widest, (this->*width)(control));
        return widest;
    }
};

// Moves the controls in one step, so the window repaints once, not once per control.
class Placer {
public:
    explicit Placer(HWND window) : window_(window), defer_(BeginDeferWindowPos(48)) {}
    ~Placer() {
        if (defer_ != nullptr) EndDeferWindowPos(defer_);
    }
    Placer(const Placer&) = delete;
    Placer& operator=(const Placer&) = delete;

    void operator()(int control, int x, int y, int width, int height) {
        HWND item = GetDlgItem(window_, control);
        if (item == nullptr) return;
        width = std::max(width, 0);
        height = std::max(height, 0);
        if (defer_ != nullptr) {
            defer_ = DeferWindowPos(defer_, item, nullptr, x, y, width, height,
                                    SWP_NOZORDER | SWP_NOACTIVATE);
        }
        if (defer_ == nullptr) {
            SetWindowPos(item, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }

private:
    HWND window_;
    HDWP defer_;
};

constexpr int kChainButtons[2][4] = {
    {IDC_ST_BACKUP, IDC_ST_RESTORE, IDC_ST_START_PHONE, IDC_ST_BLANK},
    {IDC_ST_WRITE_BOOT, IDC_ST_WRITE_PDS, IDC_ST_WRITE_PANIC, IDC_ST_WRITE_BLOCKS},
};

}  // namespace

int textWidth(HDC dc, HFONT font, const wchar_t* text) {
    const HGDIOBJ before = SelectObject(dc, font);
    RECT rect{0, 0, 0, 0};
    DrawTextW(dc, text, -1, &rect, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(dc, before);
    return rect.right - rect.left;
}

SIZE layoutStationWindow(HWND window, HFONT font) {
    HDC dc = GetDC(window);
    const HGDIOBJ before = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SIZE letters{};
    static constexpr wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    GetTextExtentPoint32W(dc, kAlphabet, 52, &letters);
    SelectObject(dc, before);
    const Metrics m{window, dc, font, std::max<int>(1, (letters.cx / 26 + 1) / 2),
                    std::max<int>(1, metrics.tmHeight)};

    RECT client{};
    GetClientRect(window, &client);
    const int margin = m.x(5);
    const int gap = m.x(4);
    const int vgap = m.y(3);
    const int fontHeight = static_cast<int>(metrics.tmHeight);
    const int buttonHeight = std::max(m.y(14), fontHeight + m.y(5));
    const int editHeight = std::max(m.y(12), fontHeight + m.y(3));
    const int labelHeight = fontHeight + 1;
    const int checkHeight = std::max(m.y(10), labelHeight);
    const int groupTop = fontHeight + m.y(3);
    const int groupSide = m.x(6);

    Placer place(window);

    // The chain: eight buttons of one width, the widest text's, four to a row.
    const int chainWidth = std::max(
        m.x(50),
        m.widest({IDC_ST_BACKUP, IDC_ST_RESTORE, IDC_ST_START_PHONE, IDC_ST_BLANK,
                  IDC_ST_WRITE_BOOT, IDC_ST_WRITE_PDS, IDC_ST_WRITE_PANIC, IDC_ST_WRITE_BLOCKS},
                 &Metrics::button));
    const int inner = 4 * chainWidth + 3 * gap;
    const int left = margin + groupSide;
    int y = margin + groupTop;
    for (const auto& row : kChainButtons) {
        for (int i = 0; i < 4; ++i) {
            place(row[i], left + i * (chainWidth + gap), y, chainWidth, buttonHeight);
        }
        y += buttonHeight + vgap;
    }
    // The block range: two labels, each before its field of eight hex digits.
    const int hexWidth = textWidth(dc, font, L"DDDDDDDD") + m.x(8);
    int x = left;
    const int labelDrop = (editHeight - labelHeight) / 2;
    constexpr int kRange[2][2] = {{IDC_ST_FROM_LABEL, IDC_ST_FROM}, {IDC_ST_TO_LABEL, IDC_ST_TO}};
    for (const auto& [label, field] : kRange) {
        const int width = m.text(label) + m.x(2);
        place(label, x, y + labelDrop, width, labelHeight);
        place(field, x + width + m.x(2), y, hexWidth, editHeight);
        x += width + m.x(2) + hexWidth + gap * 2;
    }
    y += editHeight + vgap;
    // The two boxes side by side when they fit, else one under the other.
    const int verifyWidth = m.check(IDC_ST_VERIFY);
    const int changedWidth = m.check(IDC_ST_CHANGED_ONLY);
    place(IDC_ST_VERIFY, left, y, verifyWidth, checkHeight);
    if (verifyWidth + 2 * gap + changedWidth <= inner) {
        place(IDC_ST_CHANGED_ONLY, left + inner - changedWidth, y, changedWidth, checkHeight);
    } else {
        y += checkHeight + vgap;
        place(IDC_ST_CHANGED_ONLY, left, y, changedWidth, checkHeight);
    }
    y += checkHeight + vgap;
    // Cloning PDS with its warning beside it, or under it, in two lines, when it does not fit.
    const int cloneWidth = m.check(IDC_ST_CLONE_PDS);
    const int warningWidth = m.text(IDC_ST_CLONE_PDS_WARNING);
    place(IDC_ST_CLONE_PDS, left, y, cloneWidth, checkHeight);
    if (cloneWidth + gap + warningWidth <= inner) {
        place(IDC_ST_CLONE_PDS_WARNING, left + cloneWidth + gap,
              y + (checkHeight - labelHeight) / 2, inner - cloneWidth - gap, labelHeight);
        y += checkHeight + vgap;
    } else {
        y += checkHeight;
        place(IDC_ST_CLONE_PDS_WARNING, left + m.x(16), y, inner - m.x(16), 2 * labelHeight);
        y += 2 * labelHeight + vgap;
    }
    const int stepsTop = y;
    constexpr int kSideButtons[] = {IDC_ST_REMOVE_STEP, IDC_ST_CLEAR_STEPS, IDC_ST_OPEN_RECIPE,
                                    IDC_ST_SAVE_RECIPE};
    const int sideWidth = std::max(m.x(40), m.widest({IDC_ST_REMOVE_STEP, IDC_ST_CLEAR_STEPS,
                                                      IDC_ST_OPEN_RECIPE, IDC_ST_SAVE_RECIPE},
                                                     &Metrics::button));
    // The chain's list is as tall as the buttons beside it at least.
    const int chainBottomMin = stepsTop + std::max(m.y(50), 4 * buttonHeight + 3 * vgap) + m.y(6);

    // The right-hand column: the folder, the journal and the places.
    const int right = margin + inner + 2 * groupSide + m.x(6);
    const int browseWidth = std::max(
        m.x(40), m.widest({IDC_ST_CHOOSE_FOLDER, IDC_ST_CHOOSE_JOURNAL}, &Metrics::button));
    const int radios = m.check(IDC_ST_ALL_PLACES) + 2 * gap + m.check(IDC_ST_TICKED_PLACES);
    const int rightMin =
        std::max({m.x(150) + gap + browseWidth,
                  m.widest({IDC_ST_FOLDER_LABEL, IDC_ST_JOURNAL_LABEL}, &Metrics::text),
                  std::min(radios, m.x(200)) + 2 * groupSide});
    const int rightWidth = std::max(rightMin, static_cast<int>(client.right) - margin - right);
    int ry = margin;
    constexpr int kPaths[2][3] = {{IDC_ST_FOLDER_LABEL, IDC_ST_FOLDER, IDC_ST_CHOOSE_FOLDER},
                                  {IDC_ST_JOURNAL_LABEL, IDC_ST_JOURNAL, IDC_ST_CHOOSE_JOURNAL}};
    for (const auto& [label, field, browse] : kPaths) {
        place(label, right, ry, rightWidth, labelHeight);
        ry += labelHeight + m.y(1);
        place(field, right, ry + (buttonHeight - editHeight) / 2, rightWidth - browseWidth - gap,
              editHeight);
        place(browse, right + rightWidth - browseWidth, ry, browseWidth, buttonHeight);
        ry += buttonHeight + vgap;
    }
    const int placesTop = ry;
    const int placesLeft = right + groupSide;
    const int placesInner = rightWidth - 2 * groupSide;
    ry += groupTop;
    place(IDC_ST_ALL_PLACES, placesLeft, ry, m.check(IDC_ST_ALL_PLACES), checkHeight);
    if (radios <= placesInner) {
        place(IDC_ST_TICKED_PLACES, placesLeft + m.check(IDC_ST_ALL_PLACES) + 2 * gap, ry,
              m.check(IDC_ST_TICKED_PLACES), checkHeight);
    } else {
        ry += checkHeight + vgap;
        place(IDC_ST_TICKED_PLACES, placesLeft, ry, m.check(IDC_ST_TICKED_PLACES), checkHeight);
    }
    ry += checkHeight + vgap;
    const int placesListTop = ry;

    // Both groups end on one line: the lower of what each needs.
    const int topBottom = std::max(chainBottomMin, placesListTop + m.y(30) + m.y(6));
    place(IDC_ST_CHAIN_GROUP, margin, margin, inner + 2 * groupSide, topBottom - margin);
    const int stepsHeight = topBottom - m.y(6) - stepsTop;
    place(IDC_ST_STEPS, left, stepsTop, inner - sideWidth - gap, stepsHeight);
    for (int i = 0; i < 4; ++i) {
        place(kSideButtons[i], left + inner - sideWidth, stepsTop + i * (buttonHeight + vgap),
              sideWidth, buttonHeight);
    }
    place(IDC_ST_PLACES_GROUP, right, placesTop, rightWidth, topBottom - placesTop);
    place(IDC_ST_PLACES, placesLeft, placesListTop, placesInner,
          topBottom - m.y(6) - placesListTop);

    // The command line, Start and Stop; then the phone list takes the rest.
    const int width = std::max(static_cast<int>(client.right), right + rightMin + margin);
    y = topBottom + vgap;
    place(IDC_ST_COMMAND_LABEL, margin, y, width - 2 * margin, labelHeight);
    y += labelHeight + m.y(1);
    const int runWidth = std::max(m.x(46), m.widest({IDC_ST_START, IDC_ST_STOP}, &Metrics::button));
    const int commandHeight = std::max(m.y(26), 2 * labelHeight + m.y(6));
    place(IDC_ST_STOP, width - margin - runWidth, y, runWidth, commandHeight);
    place(IDC_ST_START, width - margin - 2 * runWidth - gap, y, runWidth, commandHeight);
    place(IDC_ST_COMMAND_LINE, margin, y, width - 2 * margin - 2 * (runWidth + gap), commandHeight);
    y += commandHeight + vgap;
    // The journal's red line, only while it is shown.
    if (IsWindowVisible(GetDlgItem(window, IDC_ST_JOURNAL_ALARM)) != FALSE) {
        place(IDC_ST_JOURNAL_ALARM, margin, y, width - 2 * margin, labelHeight);
        y += labelHeight + vgap;
    }
    const int phonesTop = y;
    const int statusHeight = std::max(m.y(10), labelHeight + 2);
    const int statusTop = std::max(static_cast<int>(client.bottom) - margin - statusHeight,
                                   phonesTop + m.y(50) + vgap);
    place(IDC_ST_PHONES, margin, phonesTop, width - 2 * margin, statusTop - vgap - phonesTop);
    place(IDC_ST_STATUS, margin, statusTop, width - 2 * margin, statusHeight);

    ReleaseDC(window, dc);
    return SIZE{right + rightMin + margin, phonesTop + m.y(50) + vgap + statusHeight + margin};
}

}  // namespace norvale
