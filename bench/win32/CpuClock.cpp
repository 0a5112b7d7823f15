// Processor time from the thread and process times Windows keeps.
#include "CpuClock.h"

#include <windows.h>

namespace norvale::bench {
namespace {

// FILETIME counts 100 ns.
double milliseconds(const FILETIME& time) {
    const ULONGLONG value =
        (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<double>(value) / 1e4;
}

}  // namespace

double threadCpuMs() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    return milliseconds(kernel) + milliseconds(user);
}

double processCpuMs() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return milliseconds(kernel) + milliseconds(user);
}

}  // namespace norvale::bench
