// What /proc tells of this process: its memory, its open descriptors, its threads.
#pragma once

#include <string>

namespace norvale::bench {

// A "Name:   value kB" field of /proc/self/status as a number (VmRSS, VmHWM, Threads); -1 when
// the field is missing.
long processStatusField(const std::string& name);
// The entries of /proc/self/fd: the process's open file descriptors (the listing's own one
// included, the same in every count).
long openDescriptors();

}  // namespace norvale::bench
