// Seam: the console a command-line program runs in: its two output streams, the user's language
// and the interrupt key.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

namespace norvale {

enum class ConsoleStream { output, errors };

// How long a Windows console's handler of a close, logoff or shutdown waits for the owner of the
// watch to end it: the time Windows itself gives a console program that was closed.
inline constexpr unsigned kConsoleEndWaitMs = 5000;

// Contract:
// - write() puts UTF-8 `text` on the stream; line ends are the caller's ("\n", and "\r" to go
//   back to the start of a terminal's line). On a terminal the characters show as they are,
//   whatever the system's code page; a redirected stream gets the UTF-8 bytes unchanged. A
//   failed write is not reported: there is nowhere left to report it.
// - isTerminal(): whether the stream is an interactive terminal rather than a file or a pipe.
// - width(): the columns of the output terminal; 80 when it has none or they can't be told.
// - language(): the user's interface language as a lower-case ISO 639-1 code ("ru", "en"), or
//   "" when it can't be told.
// - nativeToUtf8(): text in the system's narrow encoding (the program's arguments, file names as
//   the file seam takes them) as UTF-8.
// - watchInterrupt(): from now on the interrupt key (Ctrl+C; Ctrl+Break too on Windows) sets
//   `*flag` instead of ending the program, once: pressed again, it ends the program as it would
//   without the watch. So does the system ending the program's session: SIGTERM and SIGHUP on
//   POSIX (each once, as the key); on Windows the console window closed, the user logging off,
//   the system shutting down. Windows ends the process as soon as its handler of those returns,
//   so there the handler sets the flag and then waits until the watch ends, at most
//   kConsoleEndWaitMs: the owner ends the watch once it has done what the flag asks (its
//   sessions stopped, its records written), and that is done before the process goes. nullptr
//   ends the watch; the flag must outlive it. May be called from the main thread only; the flag
//   is set from whatever thread or handler the system delivers the key on, so it must be a
//   lock-free atomic.
// - enableCursorMoves(): asks the output terminal to take the ANSI sequences a display redrawn
//   in place needs (ESC [ n A: up n lines; ESC [ K and ESC [ J: erase to the end of the line and
//   of the screen) and says whether it does. A POSIX terminal does as it is; a Windows console
//   does once its virtual terminal processing is on (Windows 10 and newer), which this turns on
//   until the Console object goes. False when the output is no terminal. '\r' works either way.
//   May be called from the main thread only.
// - Every call but watchInterrupt() and enableCursorMoves() may come from any thread; writes are
// not interleaved within
//   one call.
class Console {
public:
    virtual ~Console() = default;
    virtual void write(ConsoleStream stream, std::string_view text) = 0;
    virtual bool isTerminal(ConsoleStream stream) const = 0;
    virtual unsigned width() const = 0;
    virtual std::string language() const = 0;
    virtual std::string nativeToUtf8(std::string_view text) const = 0;
    virtual void watchInterrupt(std::atomic<bool>* flag) = 0;
    virtual bool enableCursorMoves() = 0;
};

}  // namespace norvale
