// Processor time, of the calling thread or of the whole process, in milliseconds.
#pragma once

namespace norvale::bench {

// Time the processor spent running the calling thread (threadCpuMs) or every thread of the
// process (processCpuMs), user and system alike, from an arbitrary start. Unlike wall time it
// leaves out the time a thread spends waiting, for another thread or for the rest of a busy
// machine, which is what lets the dump's own work be told apart from the disk's and the
// scheduler's. On Linux it counts nanoseconds; Windows counts it in scheduler ticks, too coarse
// for single transfers.
double threadCpuMs();
double processCpuMs();

}  // namespace norvale::bench
