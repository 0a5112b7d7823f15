// The benchmark's command line.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace norvale::bench {

// The parts, by the names --parts takes.
inline constexpr const char* kPartDump = "dump";           // CG1 dump against a file copy
inline constexpr const char* kPartLink = "link";           // CG1 dump over the bus model
inline constexpr const char* kPartWrites = "writes";       // Panic and a 1 MB block range
inline constexpr const char* kPartMemory = "memory";       // peak memory of a 64 KB and a CG1 dump
inline constexpr const char* kPartLog = "log";             // 10 000 log lines, in-memory view
inline constexpr const char* kPartLogWin32 = "log-win32";  // the same through the Win32 view
inline constexpr const char* kPartStation = "station";     // 1 to 16 phones at once
inline constexpr const char* kPartStop = "stop";           // Stop with a phone that never answers
inline constexpr const char* kPartSoak = "soak";           // 100 phone runs, arriving and leaving
inline constexpr const char* kPartWatch = "watch";  // 64 idle USB phones watched, under umockdev
inline constexpr const char* kPartWatchWin32 = "watch-win32";  // the same through WinUSB, stand-ins
inline constexpr const char* kPartStationWindow = "station-window";  // 64 rows redrawn, Win32
inline constexpr const char* kPartReport = "report";  // a 100,000-phone journal's report
inline constexpr const char* kPartShift = "shift";    // 10 000 arrivals through the engine

struct BenchOptions {
    int repeat = 5;
    int logLines = 10000;
    std::set<std::string> parts;  // empty until parsed: every part this build has
    // Set when the process is a child started to measure one dump's peak memory alone.
    std::optional<std::string> childDumpStart;
    std::optional<std::string> childDumpEnd;
    // Set when the process is a child started to measure the peak memory of a station alone.
    std::optional<unsigned> childStationPhones;
    bool childStationAtOnce = false;
    // Set when the process is a child started to run one soak alone: "sessions" or "simulator".
    std::optional<std::string> childSoak;
    // Set when the process is a child started to report on this journal alone.
    std::optional<std::string> childReport;
    // Set when the process is a child started to run the shift alone: "station" or "simulator".
    std::optional<std::string> childShift;
    bool help = false;

    bool runs(const std::string& part) const { return parts.count(part) != 0; }
};

struct ParsedOptions {
    BenchOptions options;
    std::string error;  // empty when the command line was understood
};

// `available`: the parts this build can run, taken when --parts is not given.
ParsedOptions parseBenchOptions(const std::vector<std::string>& arguments,
                                const std::vector<std::string>& available);

std::string benchUsage(const std::string& program, const std::vector<std::string>& available);

}  // namespace norvale::bench
