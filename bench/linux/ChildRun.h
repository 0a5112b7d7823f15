// This program run again as a child process, for a figure that must be a process's own.
#pragma once

#include <string>

namespace norvale::bench {

struct ChildRun {
    int status = -1;     // as pclose() gives it: 0 when the child exited with 0
    std::string output;  // its stdout and stderr together
};

// Runs `self` with `arguments` (taken by the shell as they are) and waits for it; `environment`:
// assignments put before the command, such as "MALLOC_ARENA_MAX=1 ". Throws when it can't start.
ChildRun runChild(const std::string& self, const std::string& arguments,
                  const std::string& environment = {});

}  // namespace norvale::bench
