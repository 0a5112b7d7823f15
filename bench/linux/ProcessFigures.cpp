// Reading this process's figures from /proc.
#include "ProcessFigures.h"

#include <filesystem>
#include <fstream>

namespace norvale::bench {

long processStatusField(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = name + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
    }
    return -1;
}

long openDescriptors() {
    long count = 0;
    std::error_code failed;
    for (std::filesystem::directory_iterator it("/proc/self/fd", failed), end; !failed && it != end;
         it.increment(failed)) {
        ++count;
    }
    return failed ? -1 : count;
}

}  // namespace norvale::bench
