// Another process's window read and driven from outside.
#include "win32/process/RemoteWindow.h"

#include <thread>

namespace norvale::testing {
namespace {

// A block of memory inside another process, freed with it.
class RemoteMemory {
public:
    RemoteMemory(HANDLE process, std::size_t size)
        : process_(process),
          address_(
              VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
    ~RemoteMemory() {
        if (address_ != nullptr) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    void* address() const { return address_; }
    template <class T>
    T* at(std::size_t offset) const {
        return reinterpret_cast<T*>(static_cast<char*>(address_) + offset);
    }
    bool write(std::size_t offset, const void* data, std::size_t size) const {
        SIZE_T written = 0;
        return WriteProcessMemory(process_, at<char>(offset), data, size, &written) &&
               written == size;
    }
    bool read(std::size_t offset, void* data, std::size_t size) const {
        SIZE_T read = 0;
        return ReadProcessMemory(process_, at<char>(offset), data, size, &read) && read == size;
    }

private:
    HANDLE process_;
    void* address_;
};

struct DialogSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK collectDialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<DialogSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && windowClass(window) == L"#32770") {
        search->found.push_back(window);
    }
    return TRUE;
}

// A sent message that gives up after a while, so a window that stopped answering fails the test
// instead of hanging it.
LRESULT ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result) ==
        0) {
        return -1;
    }
    return static_cast<LRESULT>(result);
}

constexpr int kTextChars = 1024;

// One cell's text through `memory`, which has room for the item and the text after it.
std::wstring itemText(HWND list, const RemoteMemory& memory, int row, int column) {
    LVITEMW item{};
    item.iSubItem = column;
    item.cchTextMax = kTextChars;
    item.pszText = memory.at<wchar_t>(sizeof(LVITEMW));
    if (!memory.write(0, &item, sizeof item)) return L"<not written>";
    const LRESULT length = ask(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                               reinterpret_cast<LPARAM>(memory.address()));
    if (length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(std::min<LRESULT>(length, kTextChars - 1)), L'\0');
    if (!memory.read(sizeof(LVITEMW), text.data(), text.size() * sizeof(wchar_t))) {
        return L"<not read>";
    }
    return text;
}

}  // namespace

bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::wstring windowText(HWND window) {
    wchar_t text[kTextChars] = {};
    DWORD_PTR length = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXT, kTextChars, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 5000, &length) == 0) {
        return {};
    }
    return std::wstring(text, std::min<std::size_t>(length, kTextChars - 1));
}

std::wstring windowClass(HWND window) {
    wchar_t name[64] = {};
    const int length = GetClassNameW(window, name, 64);
    return std::wstring(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::vector<HWND> dialogsOf(DWORD processId) {
    DialogSearch search{processId, {}};
    EnumWindows(collectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void type(HWND edit, const std::wstring& text) {
    ask(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int RemoteList::listViewCount() const {
    return static_cast<int>(ask(list_, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring RemoteList::listViewText(int row, int column) const {
    // The item, then the text's room right after it.
    RemoteMemory memory(process_, sizeof(LVITEMW) + kTextChars * sizeof(wchar_t));
    if (memory.address() == nullptr) return L"<no memory in the process>";
    return itemText(list_, memory, row, column);
}

std::vector<std::vector<std::wstring>> RemoteList::listViewRows(
    const std::vector<int>& columns) const {
    RemoteMemory memory(process_, sizeof(LVITEMW) + kTextChars * sizeof(wchar_t));
    std::vector<std::vector<std::wstring>> rows(
        static_cast<std::size_t>(std::max(listViewCount(), 0)));
    for (std::size_t row = 0; row < rows.size(); ++row) {
        for (const int column : columns) {
            rows[row].push_back(memory.address() == nullptr
                                    ? L"<no memory in the process>"
                                    : itemText(list_, memory, static_cast<int>(row), column));
        }
    }
    return rows;
}

std::wstring RemoteList::listViewColumnTitle(int column) const {
    RemoteMemory memory(process_, sizeof(LVCOLUMNW) + kTextChars * sizeof(wchar_t));
    LVCOLUMNW header{};
    header.mask = LVCF_TEXT;
    header.cchTextMax = kTextChars;
    header.pszText = memory.at<wchar_t>(sizeof(LVCOLUMNW));
    if (memory.address() == nullptr || !memory.write(0, &header, sizeof header) ||
        ask(list_, LVM_GETCOLUMNW, static_cast<WPARAM>(column),
            reinterpret_cast<LPARAM>(memory.address())) == 0) {
        return L"<not read>";
    }
    wchar_t text[kTextChars] = {};
    if (!memory.read(sizeof(LVCOLUMNW), text, sizeof text - sizeof(wchar_t))) return L"<not read>";
    return text;
}

bool RemoteList::listViewChecked(int row) const {
    // The tick box is the item's state image: 1 unticked, 2 ticked.
    const LRESULT state =
        ask(list_, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK);
    return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void RemoteList::setListViewChecked(int row, bool checked) const {
    RemoteMemory memory(process_, sizeof(LVITEMW));
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    if (memory.address() == nullptr || !memory.write(0, &item, sizeof item)) return;
    ask(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
        reinterpret_cast<LPARAM>(memory.address()));
}

std::vector<std::wstring> RemoteList::listBoxLines() const {
    // LB_GETTEXT is one of the system's own messages, which carry their text across processes.
    std::vector<std::wstring> lines;
    const LRESULT count = ask(list_, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[kTextChars] = {};
        if (ask(list_, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0) >= kTextChars) {
            lines.push_back(L"<too long>");
            continue;
        }
        const LRESULT length =
            ask(list_, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        lines.emplace_back(text, length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    return lines;
}

}  // namespace norvale::testing
