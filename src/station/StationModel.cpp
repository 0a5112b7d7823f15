// A transfer's rate and time left, from what it moved and how long it has run.
#include "station/StationModel.h"

#include <cmath>

namespace norvale {
namespace {

// Before this much time has gone by a rate is mostly the first reply's luck.
constexpr std::uint64_t kRateAfterMs = 200;

}  // namespace

std::optional<std::uint64_t> PhoneTransfer::bytesPerSecond() const {
    if (elapsedMs < kRateAfterMs || done == 0) return std::nullopt;
    return done * 1000 / elapsedMs;
}

std::optional<std::uint64_t> PhoneTransfer::secondsLeft() const {
    if (elapsedMs < kRateAfterMs || done == 0) return std::nullopt;
    const double perSecond = static_cast<double>(done) * 1000.0 / static_cast<double>(elapsedMs);
    const std::uint64_t left = total > done ? total - done : 0;
    return static_cast<std::uint64_t>(std::llround(static_cast<double>(left) / perSecond));
}

bool stoppedByOperator(const PhoneRow& row) {
    return row.state == PhoneRow::State::failed &&
           (row.reasonId == MessageId::stoppedByOperator ||
            row.reasonId == MessageId::readStoppedByOperator);
}

}  // namespace norvale
