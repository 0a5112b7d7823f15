// Phones arriving and leaving for a hundred runs: memory and handles stay flat.
#pragma once

#include <string>

#include "BenchOptions.h"
#include "ResultTable.h"

namespace norvale::bench {

// The `soak` part: five simulated phones on one simulator (phones 1, 3 and 5 on the driver road,
// 2 and 4 on the USB road), set to come back after 'S' 'A' as phones that just booted. Twenty
// rounds: the phones attached at the scan are each given a new session on a thread of their
// own, which takes the arrival, reads PDS into a file and starts the phone, which leaves; once
// every thread has ended the dumps are checked against their own phone's flash and removed, and
// the clock moves on by the return delay. After every 10 runs: VmRSS, open file descriptors,
// threads, and the simulator's live handles, device sets and bulk IN queues. It runs in child
// processes of this program (`self`): with the allocator as it is, with glibc's allocator held
// to one arena, and the simulator's part alone (the same phones leaving and attaching again,
// no session), whose growth is taken from the first's.
void benchSoak(const std::string& self, ResultTable& table);

// The child's side: `kind` sessions (the soak) or simulator (its part alone); prints the
// samples. Returns the process's exit code.
int runSoakChild(const std::string& kind);

}  // namespace norvale::bench
