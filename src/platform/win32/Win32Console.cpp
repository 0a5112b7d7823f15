// Console output in UTF-16 or UTF-8 bytes, the UI language, and Ctrl+C and the console's close,
// logoff and shutdown through a control handler.
#include "platform/win32/Win32Console.h"

#include <string>

namespace norvale {
namespace {

std::atomic<std::atomic<bool>*> watchedFlag{nullptr};
// Set once a first interrupt was taken: the next one ends the program as usual.
std::atomic<bool> interruptTaken{false};
// Manual-reset, set while nothing is watched: the handler of the session's end waits on it.
// Made on the main thread before the handler is first registered, never closed (the process's
// end closes it), so the handler's thread never meets a closed handle.
HANDLE watchEnded = nullptr;

BOOL WINAPI onControl(DWORD event) {
    std::atomic<bool>* flag = watchedFlag.load();
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        if (flag == nullptr || interruptTaken.exchange(true)) return FALSE;
        flag->store(true);
        return TRUE;
    }
    if (event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) {
        return FALSE;
    }
    if (flag == nullptr) return FALSE;
    flag->store(true);
    // Returning ends the process: first the owner stops what it runs and writes its records.
    ::WaitForSingleObject(watchEnded, kConsoleEndWaitMs);
    return TRUE;
}

std::wstring wideFrom(UINT codePage, std::string_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0) MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), units);
    return wide;
}

std::string utf8From(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, narrow.data(), bytes, nullptr,
                            nullptr);
    }
    return narrow;
}

}  // namespace

Win32Console::Win32Console()
    : Win32Console(GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE)) {}

Win32Console::~Win32Console() {
    watchInterrupt(nullptr);
    if (modeBefore_) SetConsoleMode(output_, *modeBefore_);
}

bool Win32Console::enableCursorMoves() {
    DWORD mode = 0;
    if (!GetConsoleMode(output_, &mode)) return false;
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
    // A console before Windows 10 refuses the flag: it keeps its mode and draws no table.
    if (!SetConsoleMode(output_, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return false;
    if (!modeBefore_) modeBefore_ = mode;
    return true;
}

void Win32Console::write(ConsoleStream stream, std::string_view text) {
    const HANDLE handle = handleOf(stream);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
    if (isTerminal(stream)) {
        const std::wstring wide = wideFrom(CP_UTF8, text);
        const wchar_t* next = wide.data();
        DWORD left = static_cast<DWORD>(wide.size());
        while (left > 0) {
            DWORD put = 0;
            if (!WriteConsoleW(handle, next, left, &put, nullptr) || put == 0) return;
            next += put;
            left -= put;
        }
        return;
    }
    const char* next = text.data();
    DWORD left = static_cast<DWORD>(text.size());
    while (left > 0) {
        DWORD put = 0;
        if (!WriteFile(handle, next, left, &put, nullptr) || put == 0) return;
        next += put;
        left -= put;
    }
}

bool Win32Console::isTerminal(ConsoleStream stream) const {
    DWORD mode = 0;
    return GetConsoleMode(handleOf(stream), &mode) != 0;
}

unsigned Win32Console::width() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(output_, &info)) return 80;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<unsigned>(columns) : 80;
}

std::string Win32Console::language() const {
    const LANGID language = GetUserDefaultUILanguage();
    wchar_t code[9] = {};
    if (GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_SISO639LANGNAME, code, 9) == 0) {
        return {};
    }
    const std::string text = utf8From(code);
    return text.size() == 2 ? text : std::string();
}

std::string Win32Console::nativeToUtf8(std::string_view text) const {
    // The program's names are UTF-8 already (its arguments come from the wide command line);
    // bytes that are no UTF-8 (a phone's string, say) are read in the ANSI code page.
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                            static_cast<int>(text.size()), nullptr, 0) > 0) {
        return std::string(text);
    }
    return utf8From(wideFrom(CP_ACP, text));
}

void Win32Console::watchInterrupt(std::atomic<bool>* flag) {
    if (watchEnded == nullptr) watchEnded = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
    const bool wasWatching = watchedFlag.exchange(flag) != nullptr;
    if (flag != nullptr && !wasWatching) {
        interruptTaken.store(false);
        ::ResetEvent(watchEnded);
        SetConsoleCtrlHandler(onControl, TRUE);
    } else if (flag == nullptr && wasWatching) {
        // A handler waiting for the session's end returns now, and the process ends with it.
        ::SetEvent(watchEnded);
        SetConsoleCtrlHandler(onControl, FALSE);
    }
}

}  // namespace norvale
