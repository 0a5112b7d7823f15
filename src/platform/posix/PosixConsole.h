// The console seam over the standard streams' file descriptors, the locale variables and SIGINT.
#pragma once

#include "platform/Console.h"

namespace norvale {

// Text is UTF-8 on these systems: nativeToUtf8() passes it through. The language comes from the
// first of LC_ALL, LC_MESSAGES and LANG that is set and not empty, as the C library picks the
// messages' language.
class PosixConsole final : public Console {
public:
    PosixConsole() = default;
    PosixConsole(const PosixConsole&) = delete;
    PosixConsole& operator=(const PosixConsole&) = delete;
    ~PosixConsole() override { watchInterrupt(nullptr); }

    void write(ConsoleStream stream, std::string_view text) override;
    bool isTerminal(ConsoleStream stream) const override;
    unsigned width() const override;
    std::string language() const override;
    std::string nativeToUtf8(std::string_view text) const override { return std::string(text); }
    void watchInterrupt(std::atomic<bool>* flag) override;
    bool enableCursorMoves() override { return isTerminal(ConsoleStream::output); }
};

}  // namespace norvale
