// The console seam over the standard handles: WriteConsoleW on a console, UTF-8 bytes otherwise.
#pragma once

#include <windows.h>

#include <optional>

#include "platform/Console.h"

namespace norvale {

// The handles are the process's (GetStdHandle) or, for a test, a console screen buffer of the
// caller's; either way this object does not own them. On a console the text goes out as UTF-16
// through WriteConsoleW, so Cyrillic shows right whatever the console's code page; a file or pipe
// gets the UTF-8 bytes through WriteFile.
class Win32Console final : public Console {
public:
    Win32Console();
    Win32Console(HANDLE output, HANDLE errors) : output_(output), errors_(errors) {}
    Win32Console(const Win32Console&) = delete;
    Win32Console& operator=(const Win32Console&) = delete;
    ~Win32Console() override;

    void write(ConsoleStream stream, std::string_view text) override;
    bool isTerminal(ConsoleStream stream) const override;
    unsigned width() const override;
    // The user's interface language (GetUserDefaultUILanguage).
    std::string language() const override;
    // From the ANSI code page, which the programs' arguments and the file seam's names are in.
    std::string nativeToUtf8(std::string_view text) const override;
    void watchInterrupt(std::atomic<bool>* flag) override;
    // Turns on the output console's virtual terminal processing; the mode it had comes back when
    // this object goes, so the shell that started the program finds its console as it was.
    bool enableCursorMoves() override;

private:
    HANDLE handleOf(ConsoleStream stream) const {
        return stream == ConsoleStream::output ? output_ : errors_;
    }

    HANDLE output_;
    HANDLE errors_;
    std::optional<DWORD> modeBefore_;  // the output console's mode before enableCursorMoves()
};

}  // namespace norvale
