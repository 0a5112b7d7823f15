// A phone's row, kept current by its session and copied for each drawing of the table.
#include "station/StationPhone.h"

namespace norvale {

StationPhone::StationPhone(std::string location, std::string road, std::size_t steps) {
    row_.location = std::move(location);
    row_.road = std::move(road);
    row_.steps = steps;
}

void StationPhone::beginCommand(std::size_t index, std::string name) {
    std::lock_guard lock(mutex_);
    row_.step = index + 1;
    row_.command = std::move(name);
    row_.transfer.reset();
    commandBytes_ = 0;
}

void StationPhone::showTransfer(std::uint64_t done, std::uint64_t total, std::uint64_t nowMs) {
    std::lock_guard lock(mutex_);
    if (!row_.transfer) {
        row_.transfer = TableTransfer{};
        transferStartMs_ = nowMs;
    }
    row_.transfer->done = done;
    row_.transfer->total = total;
}

void StationPhone::endTransfer() {
    std::lock_guard lock(mutex_);
    if (row_.transfer) commandBytes_ += row_.transfer->done;
    row_.transfer.reset();
}

std::uint64_t StationPhone::takeCommandBytes() {
    std::lock_guard lock(mutex_);
    const std::uint64_t bytes = commandBytes_ + (row_.transfer ? row_.transfer->done : 0);
    commandBytes_ = 0;
    return bytes;
}

void StationPhone::end(bool failed, std::string reason) {
    std::lock_guard lock(mutex_);
    row_.state = failed ? TableRow::State::failed : TableRow::State::done;
    row_.reason = std::move(reason);
    row_.transfer.reset();
}

TableRow StationPhone::row(std::uint64_t nowMs) const {
    std::lock_guard lock(mutex_);
    TableRow copy = row_;
    if (copy.transfer) copy.transfer->elapsedMs = nowMs - transferStartMs_;
    return copy;
}

}  // namespace norvale
