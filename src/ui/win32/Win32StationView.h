// The station view over the real station window: its controls, the phone list, the taskbar.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/MessageCatalogue.h"
#include "platform/win32/Win32Handles.h"
#include "ui/StationTexts.h"
#include "ui/StationView.h"
#include "ui/win32/TaskbarProgress.h"

namespace norvale {

struct GdiObjectTraits {
    using Value = HGDIOBJ;
    static Value invalid() { return nullptr; }
    static void close(Value value) { ::DeleteObject(value); }
};
struct WindowTraits {
    using Value = HWND;
    static Value invalid() { return nullptr; }
    static void close(Value value) { ::DestroyWindow(value); }
};

// UI thread only, like the window. The phone list is a virtual, owner-drawn list view: the view
// keeps each row's texts and draws a row's cells itself (drawRow), only those in the region a
// redraw invalidated, so a tick repaints the cells that changed and nothing else; fillCell gives
// a cell's text to whoever asks the list for it.
// Every control is placed from the texts it holds in the window's font (StationLayout), again
// whenever the window's size or its screen's DPI changes.
class Win32StationView final : public StationView {
public:
    explicit Win32StationView(Language language) : language_(language) {}

    // The window procedure attaches the window at WM_INITDIALOG, before the controller runs.
    void attach(HWND window);
    HWND window() const { return window_; }

    // StationView.
    void setCaption(std::string_view text) override;
    void setText(int control, std::string_view text) override;
    std::string text(int control) override;
    void enable(int control, bool enabled) override;
    void setChecked(int control, bool checked) override;
    bool checked(int control) override;
    void show(int control, bool shown) override;
    void setSteps(const std::vector<std::string>& lines) override;
    int selectedStep() override;
    void setPlaces(const std::vector<std::string>& places,
                   const std::vector<bool>& ticked) override;
    std::vector<bool> placeTicks() override;
    void setColumns(const std::array<std::string, kStationColumns>& headers) override;
    void showRows(const std::vector<StationRowCells>& rows) override;
    void showOverall(std::uint64_t done, std::uint64_t total, bool failed) override;
    void endOverall() override;
    std::optional<std::string> chooseImageFile() override;
    std::optional<std::string> chooseFolder(std::string_view title) override;
    std::optional<std::string> chooseJournalFile() override;
    std::optional<std::string> chooseRecipeFile(bool save) override;
    bool ask(std::string_view question) override;
    void tell(std::string_view text) override;
    void showLog(std::string_view title, const std::vector<std::string>& lines) override;
    bool logShown() override { return log_.valid(); }
    std::string windowLayout() override;
    void setWindowLayout(std::string_view layout) override;
    void blockShutdown(bool blocked) override;
    std::string currentFolder() override;
    void startTimer(unsigned ms) override;
    void stopTimer() override;
    void close() override;

    // WM_SIZE, WM_GETMINMAXINFO and WM_DPICHANGED of the window.
    void layout();
    void limitSize(MINMAXINFO& limits) const;
    void changeDpi(UINT dpi, const RECT& suggested);
    // The row an operator's Enter or context menu (at `screen`, or under the selection when the
    // keyboard asked: -1, -1) names in the phone list; -1 for none or a cancelled menu.
    int selectedRow() const;
    int rowFromMenu(POINT screen) const;
    // The log window, for the message loop's keyboard handling; null when it is not open.
    HWND logWindow() const { return log_.get(); }
    void logClosed() { log_.release(); }
    // The phone list's columns were resized: their widths are read again (drawRow uses them
    // for every row it draws, and asking the list each time costs more than the drawing).
    void readColumnWidths();
    // The phone list's mouse moves, for the whole text of a cut cell as a tooltip.
    void trackCell(POINT client);
    void fillTip(NMTTDISPINFOW& info) const;

    // WM_CTLCOLORSTATIC: the journal's red line drawn red; null for the system's colours.
    HBRUSH colorStatic(HDC dc, HWND control) const;

    // LVN_GETDISPINFOW of the phone list.
    void fillCell(NMLVDISPINFOW& info) const;
    // WM_DRAWITEM of the phone list: a row drawn whole by the view, only the cells the paint
    // asks for.
    void drawRow(const DRAWITEMSTRUCT& item) const;

    // Where the taskbar object comes from; for tests, before the first progress.
    void setTaskbarConnector(TaskbarConnector connect) {
        taskbar_.setConnector(std::move(connect));
    }

private:
    // The open dialog takes an existing file only; the save dialog any name, and it asks about
    // none: whoever writes refuses a name that exists, or appends to it.
    enum class FileDialog { open, saveNew };
    std::optional<std::string> chooseFile(StationText filter, std::wstring_view initial,
                                          const wchar_t* extension, FileDialog kind);
    void drawProgress(HDC dc, const RECT& cell, COLORREF background,
                      const StationRowCells& row) const;
    HFONT font() const;

    Language language_;
    HWND window_ = nullptr;
    UINT dpi_ = 96;
    // The window's font at the current DPI once it changed; until then the template's.
    UniqueResource<GdiObjectTraits> scaledFont_;
    SIZE minimum_{0, 0};
    UniqueResource<WindowTraits> log_;
    HWND tip_ = nullptr;  // a child of the window: destroyed with it
    std::pair<int, int> tipCell_{-1, -1};
    std::vector<StationRowCells> rows_;
    // Each row's cells as the list view takes them, made once per change rather than per paint.
    std::vector<std::array<std::wstring, kStationColumns>> wideRows_;
    std::array<int, kStationColumns> columnWidths_{};
    TaskbarProgress taskbar_;
};

}  // namespace norvale
