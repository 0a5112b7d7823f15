// Station journals read back: one small row per phone, for the report.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

namespace norvale {

enum class PhoneOutcome : std::uint8_t { done, failed, stopped };

// A phone's run as the report needs it; names are indices into the Shift's tables, so 100,000
// phones cost a few megabytes.
struct ShiftPhone {
    std::int64_t started = 0;  // seconds since 1970, UTC
    std::int64_t ended = 0;
    std::uint32_t place = 0;
    std::uint32_t road = 0;
    std::uint32_t reason = 0;  // "" for a phone done
    std::uint32_t recipe = 0;  // "" for a typed chain
    PhoneOutcome outcome = PhoneOutcome::done;
    int exitCode = 0;
    std::uint64_t bytes = 0;  // flash bytes its commands moved
    std::uint64_t ms = 0;     // the time its commands took
    std::string serial;
};

// The strings the rows point at, each kept once.
class NameTable {
public:
    std::uint32_t add(std::string_view name);
    const std::string& operator[](std::uint32_t index) const { return names_[index]; }
    std::size_t size() const { return names_.size(); }

private:
    std::vector<std::string> names_;
    std::map<std::string, std::uint32_t, std::less<>> index_;
};

struct JournalRead {
    std::string name;
    bool opened = false;
    std::uint64_t skipped = 0;  // lines that are no record: torn by a crash, or not JSON
};

struct Shift {
    std::vector<JournalRead> journals;
    std::vector<ShiftPhone> phones;
    NameTable places;
    NameTable roads;
    NameTable reasons;
    NameTable recipes;  // the recipe's path; its digest in recipeDigests, same index
    std::vector<std::string> recipeDigests;
    // Each command's duration in ms by its name ("write"), of the commands done.
    std::map<std::string, std::vector<std::uint32_t>> stepMs;
    std::uint64_t movingBytes = 0;  // the flash bytes of the commands that moved any
    std::uint64_t movingMs = 0;     // and the time those commands took
};

// Only the phones that began in [since, until) are counted; either end may be open.
struct ShiftWindow {
    std::optional<std::int64_t> since;
    std::optional<std::int64_t> until;
};

// Reads the journal `name` into `shift`: each line a JSON object as the station writes it. A
// line that is not one (the last one torn by a power cut, say) is skipped and counted. A phone's
// outcome: "stopped" when the run was stopped (exit code 130, a stop's reason, or a command
// stopped), else "done" for exit code 0, else "failed".
void readJournal(FileSystem& files, const std::string& name, const ShiftWindow& window,
                 Shift& shift);

// "2026-12-08T08:22:31Z" (the journal's), or a prefix of it as the operator types one:
// "2026-12-08T08:22", "2026-12-08 08", "2026-12-08"; UTC. Seconds since 1970.
std::optional<std::int64_t> parseUtcTime(std::string_view text);

// "2026-12-08 08:00" for the hour that holds `seconds`.
std::string hourText(std::int64_t seconds);
// "2026-12-08 08:22" for the minute that holds `seconds`.
std::string minuteText(std::int64_t seconds);

}  // namespace norvale
