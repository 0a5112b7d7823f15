// Peak resident memory of a small and a large dump, each in a process of its own.
#pragma once

#include <string>

#include "BenchOptions.h"
#include "ResultTable.h"

namespace norvale::bench {

// The `memory` part: runs this program again once per dump (64 KB, then CG1), so that each peak
// (VmHWM) is that dump's alone, and compares the two.
void benchPeakMemory(const std::string& self, ResultTable& table);

// The child's side: dumps Start to End through a fresh simulated phone and prints its peak
// resident memory before and after the dump. Returns the process's exit code.
int runMemoryChild(const std::string& startText, const std::string& endText);

// Peak memory of the station: StationRig with kStationMemoryPhones phones in a child process,
// once served at once and once one after another; the peak added by serving them, against one
// image plus 256 KB a phone.
void benchStationPeakMemory(const std::string& self, ResultTable& table);

// The child's side: `phones` phones served at once or one after another; prints the peak before
// and after. Returns the process's exit code.
int runStationMemoryChild(unsigned phones, bool atOnce);

}  // namespace norvale::bench
