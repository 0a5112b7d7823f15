// The report over a shift of 100,000 phones: its time and its peak memory, in a child process.
#pragma once

#include <string>

#include "ResultTable.h"

namespace norvale::bench {

// The `report` part: writes a journal of kReportPhones phones (the station's own lines: a backup
// with its four files, a write, a start; eight places, one failing often; a torn last line),
// then runs this program again to report on it, so the peak is the report's alone.
void benchReport(const std::string& self, ResultTable& table);

// The child's side: reads `journal` and makes the terminal table and the HTML page, as
// `norvale-cli report JOURNAL --html FILE` does; prints the time and the peak resident memory.
int runReportChild(const std::string& journal);

}  // namespace norvale::bench
