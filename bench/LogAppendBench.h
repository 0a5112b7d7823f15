// Log appends through the controller's log: the cost of a line early and late in a long log.
#pragma once

#include <string>
#include <vector>

#include "BenchOptions.h"
#include "ResultTable.h"
#include "core/OperationLog.h"

namespace norvale::bench {

// Tells the log `lines` messages of the kinds a long session tells, one at a time (each one line
// of the pane, the removal's two), and returns each append's wall time in microseconds, the
// rendering included.
std::vector<double> timeLogAppends(OperationLog& log, int lines);

// Rows for the log parts from repeated runs of timeLogAppends(): the mean cost of lines 51-150
// (around the 100th) against that of the last 100 lines (the median of the runs), the whole run,
// and a note with the mean cost of each tenth of the run, which shows how the cost moves with the
// log's length.
void addLogRows(ResultTable& table, const std::string& viewName,
                const std::vector<std::vector<double>>& runs);

// The `log` part: the in-memory dialog view of the simulator.
void benchLogInMemory(const BenchOptions& options, ResultTable& table);

}  // namespace norvale::bench
