// The simulated driver's request trace: kept in memory for tests and appended to a file on demand.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace norvale {

// One line per driver request. Lines are flushed to the file as they are added, so a trace
// survives a process that is killed, and kept in memory unless that is turned off (the benchmark
// and the long-running program would otherwise grow without bound). Thread-safe.
class SimTrace {
public:
    SimTrace() = default;
    SimTrace(const SimTrace&) = delete;
    SimTrace& operator=(const SimTrace&) = delete;
    ~SimTrace();

    // Appends to `path` from now on (the file is created when missing). False if it can't be
    // opened; the previous file, if any, is closed either way.
    bool appendToFile(const std::string& path);
    void keepInMemory(bool keep);
    // Whether an added line is kept or written anywhere.
    bool active() const;
    void add(const std::string& line);
    std::vector<std::string> lines() const;
    void clear();

    // Lowercase hex without separators.
    static std::string hex(std::span<const std::uint8_t> bytes);
    // The line of a request that did not complete.
    static std::string failed(std::string line) { return line + " FAIL"; }

private:
    mutable std::mutex mutex_;
    std::FILE* file_ = nullptr;
    bool keep_ = true;
    std::vector<std::string> lines_;
};

}  // namespace norvale
