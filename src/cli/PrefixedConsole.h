// One phone's share of the console when it is no terminal: its lines, each after its location.
#pragma once

#include <mutex>
#include <string>

#include "cli/LiveTable.h"
#include "platform/Console.h"

namespace norvale {

// A console for one phone's view over the station's console: every line written to it goes out
// as "[location] " + the line, whole, in one write to the same stream; a line's start waits in
// this phone's buffer until its "\n" comes, and the write happens under `lock`, shared by every
// phone's console, so two phones' text never share a line even on a stream the system cuts into
// several writes. What is left without its "\n" when this console goes is written with one.
// It reports no terminal, so the view over it draws no progress. With a live `table` on the
// terminal, every line goes above the table instead (a view over it that is quiet writes only
// its error lines, the rest being the table's to show).
class PrefixedConsole final : public Console {
public:
    PrefixedConsole(Console& inner, std::mutex& lock, const std::string& location,
                    LiveTable* table = nullptr);
    PrefixedConsole(const PrefixedConsole&) = delete;
    PrefixedConsole& operator=(const PrefixedConsole&) = delete;
    ~PrefixedConsole() override;

    void write(ConsoleStream stream, std::string_view text) override;
    bool isTerminal(ConsoleStream /*stream*/) const override { return false; }
    unsigned width() const override { return inner_.width(); }
    std::string language() const override { return inner_.language(); }
    std::string nativeToUtf8(std::string_view text) const override {
        return inner_.nativeToUtf8(text);
    }
    // The station watches the interrupt key for all of its phones.
    void watchInterrupt(std::atomic<bool>* /*flag*/) override {}
    bool enableCursorMoves() override { return false; }

private:
    void writeLine(ConsoleStream stream, std::string_view line);

    Console& inner_;
    std::mutex& lock_;
    std::string prefix_;
    LiveTable* table_;
    std::mutex bufferMutex_;
    std::string pendingOutput_;
    std::string pendingErrors_;
};

}  // namespace norvale
