// Log appends through the Win32 dialog view: the real dialog, its procedure and its log pane.
#pragma once

#include "BenchOptions.h"
#include "ResultTable.h"

namespace norvale::bench {

// The `log-win32` part, with the product's view: the dialog template and procedure of the programs,
// a fresh dialog per run, and the lines appended from another thread, as a command worker appends
// them (each one a sent message that the UI thread runs, trimming the pane when it is full).
void benchLogWin32(const BenchOptions& options, ResultTable& table);

}  // namespace norvale::bench
