// What watching idle phones on the USB road costs: the Linux binding against emulated phones.
#pragma once

#include "ResultTable.h"

namespace norvale::bench {

// The processor time a second and the looks at the bus a second of 64 idle phones watched through
// real libusb, against phones umockdev emulates (the part runs under umockdev-wrapper): one
// removal wait per phone, each looking at the bus on its own, against the station's one watch of
// the bus for every phone.
void benchUsbWatch(ResultTable& table);

}  // namespace norvale::bench
