// A shift: ten thousand phone arrivals through the station engine, memory and copies flat.
#pragma once

#include <string>

#include "ResultTable.h"

namespace norvale::bench {

// The `shift` part: in a child process of this program (`self`), the station engine with the
// console's face serves 10,000 arrivals of 16 simulated phones on the USB road, each coming back
// 20 ms (modelled) after its chain `start` made it leave. After the 100th phone has ended, the
// 1,000th and the 9,900th: the median time of a snapshot() and of the console's redraw (its
// changes taken, its table formatted and written); the peak resident memory (VmHWM) after the
// 100th and at the end. The simulator keeps each interface it ever attached, so its own growth
// over as many arrivals is measured in another child (no station) and taken off.
void benchShift(const std::string& self, ResultTable& table);

// The child's side: `kind` station or simulator; prints its figures. The exit code.
int runShiftChild(const std::string& kind);

}  // namespace norvale::bench
