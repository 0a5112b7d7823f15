// The shift's phones counted every way the report shows them.
#include "report/ShiftSummary.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace norvale {
namespace {

constexpr std::uint64_t kFlagLeastPhones = 10;
constexpr double kFlagRatio = 2.0;
constexpr double kFlagMargin = 0.10;
// A chart of a month of hours at most; a longer span is shown by its hours that had phones.
constexpr std::int64_t kMostHours = 31 * 24;

StepRow stepRow(const std::string& name, std::vector<std::uint32_t> ms) {
    StepRow row{name, ms.size(), 0, 0};
    if (ms.empty()) return row;
    std::sort(ms.begin(), ms.end());
    const std::size_t n = ms.size();
    row.medianMs = n % 2 == 1 ? ms[n / 2] : (static_cast<double>(ms[n / 2 - 1]) + ms[n / 2]) / 2;
    const auto rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(n)));
    row.p95Ms = ms[std::max<std::size_t>(rank, 1) - 1];
    return row;
}

}  // namespace

double PhoneCounts::failureRate() const {
    const std::uint64_t finished = done + failed;
    return finished == 0 ? 0.0 : static_cast<double>(failed) / static_cast<double>(finished);
}

void PhoneCounts::add(PhoneOutcome outcome) {
    ++served;
    ++(outcome == PhoneOutcome::done ? done : outcome == PhoneOutcome::failed ? failed : stopped);
}

bool placeFlagged(const PhoneCounts& place, const PhoneCounts& others) {
    if (place.done + place.failed < kFlagLeastPhones || others.done + others.failed == 0) {
        return false;
    }
    const double rate = place.failureRate();
    const double baseline = others.failureRate();
    return rate >= kFlagRatio * baseline && rate >= baseline + kFlagMargin;
}

ShiftSummary summarize(const Shift& shift) {
    ShiftSummary summary;
    std::vector<PhoneCounts> places(shift.places.size());
    std::vector<std::uint64_t> reasons(shift.reasons.size());
    std::vector<PhoneCounts> recipes(shift.recipes.size());
    std::map<std::int64_t, PhoneCounts> hours;
    for (const ShiftPhone& phone : shift.phones) {
        summary.total.add(phone.outcome);
        places[phone.place].add(phone.outcome);
        recipes[phone.recipe].add(phone.outcome);
        hours[phone.started - ((phone.started % 3600) + 3600) % 3600].add(phone.outcome);
        if (phone.outcome != PhoneOutcome::done) ++reasons[phone.reason];
        summary.first = std::min(summary.first.value_or(phone.started), phone.started);
        summary.last = std::max(summary.last.value_or(phone.ended), phone.ended);
    }
    for (std::uint32_t i = 0; i < places.size(); ++i) {
        if (places[i].served == 0) continue;
        PhoneCounts others;
        others.done = summary.total.done - places[i].done;
        others.failed = summary.total.failed - places[i].failed;
        summary.places.push_back({shift.places[i], places[i], placeFlagged(places[i], others)});
    }
    std::sort(summary.places.begin(), summary.places.end(),
              [](const PlaceRow& a, const PlaceRow& b) { return a.place < b.place; });
    for (std::uint32_t i = 0; i < reasons.size(); ++i) {
        if (reasons[i] > 0) summary.reasons.push_back({shift.reasons[i], reasons[i]});
    }
    std::stable_sort(summary.reasons.begin(), summary.reasons.end(),
                     [](const ReasonRow& a, const ReasonRow& b) { return a.phones > b.phones; });
    for (std::uint32_t i = 0; i < recipes.size(); ++i) {
        if (recipes[i].served > 0) {
            summary.recipes.push_back({shift.recipes[i], shift.recipeDigests[i], recipes[i]});
        }
    }
    std::stable_sort(
        summary.recipes.begin(), summary.recipes.end(),
        [](const RecipeRow& a, const RecipeRow& b) { return a.counts.served > b.counts.served; });
    if (!hours.empty()) {
        const std::int64_t from = hours.begin()->first;
        const std::int64_t to = hours.rbegin()->first;
        if ((to - from) / 3600 < kMostHours) {
            for (std::int64_t hour = from; hour <= to; hour += 3600) hours[hour];
        }
    }
    for (const auto& [start, counts] : hours) summary.hours.push_back({start, counts});
    for (const auto& [name, ms] : shift.stepMs) summary.steps.push_back(stepRow(name, ms));
    summary.movingBytes = shift.movingBytes;
    summary.movingMs = shift.movingMs;
    return summary;
}

}  // namespace norvale
