// Phones arriving and leaving for a hundred runs: memory and handles stay flat.
#pragma once

#include "BenchOptions.h"
#include "ResultTable.h"

namespace norvale::bench {

// The `soak` part: five simulated phones on one simulator (phones 1, 3 and 5 on the driver road,
// 2 and 4 on the USB road), set to come back after 'S' 'A' as phones that just booted. Twenty
// rounds: the phones attached at the scan are each given a new session on a thread of their
// own, which takes the arrival, reads PDS into a file and starts the phone, which leaves; once
// every thread has ended the dumps are checked against their own phone's flash and removed, and
// the clock moves on by the return delay. After every 10 runs: VmRSS, open file descriptors,
// threads, and the simulator's live handles, device sets and bulk IN queues.
void benchSoak(const BenchOptions& options, ResultTable& table);

}  // namespace norvale::bench
