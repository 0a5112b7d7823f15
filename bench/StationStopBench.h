// The station's Stop with a phone that never answers.
#pragma once

#include "BenchOptions.h"
#include "ResultTable.h"

namespace norvale::bench {

// The `stop` part: two simulated phones on one road on a real clock, the second hung
// in its backup's first dump (a transfer whose wait is a minute), the first served to its end;
// then Stop. Reports, for each road, the time from the stop request to the station's run having
// ended (every session ended, its journal line written, its threads joined), median of `repeat`
// runs; the target is under a second.
void stationStopTime(const BenchOptions& options, ResultTable& table);

}  // namespace norvale::bench
