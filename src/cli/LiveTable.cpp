// ANSI cursor moves over the lines the table took last time.
#include "cli/LiveTable.h"

namespace norvale {
namespace {

constexpr std::uint64_t kRedrawEveryMs = 100;
constexpr std::string_view kEraseLineEnd = "\x1b[K";
constexpr std::string_view kEraseBelow = "\x1b[J";

std::string upBy(std::size_t lines) { return "\x1b[" + std::to_string(lines) + "A"; }

}  // namespace

std::string redrawText(std::size_t previousLines, const std::vector<std::string>& lines) {
    std::string text(1, '\r');
    if (previousLines > 0) text += upBy(previousLines);
    for (const std::string& line : lines) {
        text += line;
        text += kEraseLineEnd;
        text += '\n';
    }
    if (lines.size() < previousLines) text += kEraseBelow;
    return text;
}

bool LiveTable::draw(const std::vector<std::string>& lines, bool force) {
    std::lock_guard lock(mutex_);
    const std::uint64_t now = clock_.nowMs();
    if (!force && lastDrawMs_ && now - *lastDrawMs_ < kRedrawEveryMs) return false;
    lastDrawMs_ = now;
    console_.write(ConsoleStream::output, redrawText(drawnLines_, lines));
    drawnLines_ = lines.size();
    return true;
}

void LiveTable::printAbove(const std::string& text) {
    std::lock_guard lock(mutex_);
    // The table goes and the text takes its place; the next drawing starts below the text.
    std::string erase(1, '\r');
    if (drawnLines_ > 0) erase += upBy(drawnLines_);
    erase += kEraseBelow;
    console_.write(ConsoleStream::output, erase + text);
    drawnLines_ = 0;
    lastDrawMs_.reset();
}

}  // namespace norvale
