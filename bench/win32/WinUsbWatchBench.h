// What watching idle phones on the USB road costs on Windows: the WinUSB binding over stand-in
// SetupAPI calls.
#pragma once

#include "ResultTable.h"

namespace norvale::bench {

// The processor time a second and the bus enumerations a second of 64 idle phones watched through
// the WinUSB binding, its SetupAPI calls served by stand-ins: one removal wait per phone (a SetupDi
// enumeration each every 250 ms), against the station's one watch of the bus for every phone,
// woken by the system's notices, and that watch where the system has none.
void benchWinUsbWatch(ResultTable& table);

}  // namespace norvale::bench
