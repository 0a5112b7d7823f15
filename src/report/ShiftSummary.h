// What the report tells of a shift: counts, by place, reason, recipe and hour, step durations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/ShiftJournal.h"

namespace norvale {

struct PhoneCounts {
    std::uint64_t served = 0;  // every phone, whatever its outcome
    std::uint64_t done = 0;
    std::uint64_t failed = 0;
    std::uint64_t stopped = 0;
    // failed / (done + failed): a phone the operator stopped says nothing of its socket.
    double failureRate() const;
    void add(PhoneOutcome outcome);
};

struct PlaceRow {
    std::string place;
    PhoneCounts counts;
    bool flagged = false;  // see placeFlagged
};

struct ReasonRow {
    std::string reason;
    std::uint64_t phones = 0;
};

struct RecipeRow {
    std::string recipe;  // "" for typed chains
    std::string sha256;
    PhoneCounts counts;
};

struct HourRow {
    std::int64_t start = 0;  // seconds since 1970, UTC, a whole hour
    PhoneCounts counts;
};

struct StepRow {
    std::string step;  // the command's name
    std::size_t count = 0;
    double medianMs = 0;
    double p95Ms = 0;  // nearest rank: the value 95 % of the durations do not exceed
};

struct ShiftSummary {
    PhoneCounts total;
    std::vector<PlaceRow> places;    // by name
    std::vector<ReasonRow> reasons;  // of the phones failed or stopped, the most first
    std::vector<RecipeRow> recipes;  // the most phones first
    std::vector<HourRow> hours;      // every hour from the first phone's to the last's
    std::vector<StepRow> steps;      // by name
    std::uint64_t movingBytes = 0;
    std::uint64_t movingMs = 0;
    std::optional<std::int64_t> first;  // the first phone's start
    std::optional<std::int64_t> last;   // the last phone's end
};

// A worn cable or a bad hub port shows as one socket failing more than the rest of the line. A
// place is flagged when
//   - it finished (done or failed) at least 10 phones, so a few unlucky phones flag nothing,
//   - and its failure rate is at least twice the pooled rate of all the other places together
//     (their failures over their finished phones, so a small place can't sway the baseline),
//   - and at least 10 percentage points above it, so 2 % against 1 % flags nothing.
// A line with a single place has nothing to compare it with: never flagged.
bool placeFlagged(const PhoneCounts& place, const PhoneCounts& others);

ShiftSummary summarize(const Shift& shift);

}  // namespace norvale
