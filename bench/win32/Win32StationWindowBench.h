// The station window's redraw with 64 changing rows: the real window, its view and list.
#pragma once

#include "BenchOptions.h"
#include "ResultTable.h"

namespace norvale::bench {

// The `station-window` part: one redraw as the window's timer makes it (64 phones' rows made
// from the engine's model as text, handed to the view, and the list painted at once), timed
// over many redraws in which every row changed.
void benchStationWindow(const BenchOptions& options, ResultTable& table);

}  // namespace norvale::bench
