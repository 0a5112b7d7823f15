// The station's table on a terminal, redrawn in place over its previous drawing.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Console.h"

namespace norvale {

// The bytes that replace a table of `previousLines` lines, just drawn above the cursor, by
// `lines`: up over the old table (ESC [ n A), each line erased to its end after its text (ESC [
// K), and what the old table had below the new one erased (ESC [ J). The cursor ends at the start
// of the line below the table.
std::string redrawText(std::size_t previousLines, const std::vector<std::string>& lines);

// Draws on the output stream at most every 100 ms (a phone's progress comes far more often); a
// forced draw (a phone began or ended, the station's end) goes out at once. One console write a
// drawing, under a lock, so a drawing is never cut by another.
class LiveTable {
public:
    LiveTable(Console& console, Clock& clock) : console_(console), clock_(clock) {}

    // Whether the table was drawn (false: too soon after the last drawing).
    bool draw(const std::vector<std::string>& lines, bool force);

    // Prints `text` (whole lines) above the table, which is drawn again below it at the next draw.
    void printAbove(const std::string& text);

private:
    Console& console_;
    Clock& clock_;
    std::mutex mutex_;
    std::size_t drawnLines_ = 0;
    std::optional<std::uint64_t> lastDrawMs_;
};

}  // namespace norvale
