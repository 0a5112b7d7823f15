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

}  // namespace norvale::bench
