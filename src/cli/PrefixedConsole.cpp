// Line assembly per stream, and one locked write per whole line.
#include "cli/PrefixedConsole.h"

namespace norvale {

PrefixedConsole::PrefixedConsole(Console& inner, std::mutex& lock, const std::string& location,
                                 LiveTable* table)
    : inner_(inner), lock_(lock), prefix_("[" + location + "] "), table_(table) {}

PrefixedConsole::~PrefixedConsole() {
    if (!pendingOutput_.empty()) writeLine(ConsoleStream::output, pendingOutput_);
    if (!pendingErrors_.empty()) writeLine(ConsoleStream::errors, pendingErrors_);
}

void PrefixedConsole::write(ConsoleStream stream, std::string_view text) {
    std::lock_guard buffer(bufferMutex_);
    std::string& pending = stream == ConsoleStream::output ? pendingOutput_ : pendingErrors_;
    pending += text;
    std::size_t begin = 0;
    for (std::size_t end = pending.find('\n'); end != std::string::npos;
         end = pending.find('\n', begin)) {
        writeLine(stream, std::string_view(pending).substr(begin, end - begin));
        begin = end + 1;
    }
    pending.erase(0, begin);
}

void PrefixedConsole::writeLine(ConsoleStream stream, std::string_view line) {
    std::string whole = prefix_;
    whole += line;
    whole += '\n';
    std::lock_guard shared(lock_);
    if (table_ != nullptr) {
        table_->printAbove(whole);
    } else {
        inner_.write(stream, whole);
    }
}

}  // namespace norvale
