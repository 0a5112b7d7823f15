// Another process's window read and driven from outside, as an operator's tools see it: the
// controls' texts, clicks, and the list views whose messages carry pointers into that process.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace norvale::testing {

// Polls `done` every 20 ms until it holds or `timeout` passes; false then.
bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

std::wstring windowText(HWND window);
std::wstring windowClass(HWND window);

// The visible top-level dialog windows (#32770) of process `processId`.
std::vector<HWND> dialogsOf(DWORD processId);

// A click on a button as the mouse gives it, posted: the click may open a modal dialog, and the
// test must stay free to answer it.
void click(HWND button);
// Text typed into an edit control (the whole text replaced, EN_CHANGE sent as typing would).
void type(HWND edit, const std::wstring& text);

// A list view or list box of another process. The list view's messages carry their structures
// in memory allocated inside that process, as the list view reads and writes them there.
class RemoteList {
public:
    RemoteList(HANDLE process, HWND list) : process_(process), list_(list) {}

    int listViewCount() const;
    std::wstring listViewText(int row, int column) const;
    // Every row's texts in `columns`, read through one block of the process's memory: a list
    // read cell by cell lags behind rows that change ten times a second.
    std::vector<std::vector<std::wstring>> listViewRows(const std::vector<int>& columns) const;
    std::wstring listViewColumnTitle(int column) const;
    bool listViewChecked(int row) const;
    void setListViewChecked(int row, bool checked) const;

    std::vector<std::wstring> listBoxLines() const;

private:
    HANDLE process_;
    HWND list_;
};

}  // namespace norvale::testing
