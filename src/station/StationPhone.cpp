// A phone's row and log, kept current by its session and copied for the faces.
#include "station/StationPhone.h"

namespace norvale {

StationPhone::StationPhone(std::size_t arrival, std::string place, std::string road,
                           std::size_t steps, std::atomic<std::uint64_t>& revisions)
    : revisions_(revisions) {
    changed();
    row_.arrival = arrival;
    row_.place = std::move(place);
    row_.road = std::move(road);
    row_.steps = steps;
}

void StationPhone::identify(std::string bootVersion, std::string mode) {
    std::lock_guard lock(mutex_);
    row_.bootVersion = std::move(bootVersion);
    row_.mode = std::move(mode);
    changed();
}

void StationPhone::beginCommand(std::size_t index, std::string name) {
    std::lock_guard lock(mutex_);
    row_.step = index + 1;
    row_.command = std::move(name);
    row_.transfer.reset();
    commandBytes_ = 0;
    changed();
}

void StationPhone::showTransfer(std::uint64_t done, std::uint64_t total, std::uint64_t nowMs) {
    std::lock_guard lock(mutex_);
    if (!row_.transfer) {
        row_.transfer = PhoneTransfer{};
        transferStartMs_ = nowMs;
    }
    row_.transfer->done = done;
    row_.transfer->total = total;
    changed();
}

void StationPhone::endTransfer() {
    std::lock_guard lock(mutex_);
    if (row_.transfer) commandBytes_ += row_.transfer->done;
    row_.transfer.reset();
    changed();
}

std::uint64_t StationPhone::takeCommandBytes() {
    std::lock_guard lock(mutex_);
    const std::uint64_t bytes = commandBytes_ + (row_.transfer ? row_.transfer->done : 0);
    commandBytes_ = 0;
    return bytes;
}

void StationPhone::log(const Message& message) {
    std::lock_guard lock(mutex_);
    log_.push_back(message);
    row_.logLines = log_.size();
    changed();
}

void StationPhone::end(bool failed, std::optional<MessageId> reasonId, std::string reason,
                       std::string logFile) {
    std::lock_guard lock(mutex_);
    row_.state = failed ? PhoneRow::State::failed : PhoneRow::State::done;
    row_.reasonId = reasonId;
    row_.reason = std::move(reason);
    row_.transfer.reset();
    if (!logFile.empty()) {
        row_.logFile = std::move(logFile);
        // The file holds them now: a shift's phones leave nothing of their logs in memory.
        std::vector<Message>().swap(log_);
    }
    changed();
}

void StationPhone::changed() { revision_ = revisions_.fetch_add(1) + 1; }

std::uint64_t StationPhone::revision() const {
    std::lock_guard lock(mutex_);
    return revision_;
}

PhoneRow StationPhone::row(std::uint64_t nowMs) const {
    std::lock_guard lock(mutex_);
    PhoneRow copy = row_;
    if (copy.transfer) copy.transfer->elapsedMs = nowMs - transferStartMs_;
    return copy;
}

std::vector<Message> StationPhone::log() const {
    std::lock_guard lock(mutex_);
    // Between its end and the engine's note of it a phone's lines are in its file already: a
    // face that looks then is told where, as it is once the phone is counted finished.
    if (!row_.logFile.empty()) {
        return {Message(MessageId::phoneLogInFile, MessageDetail::name(row_.logFile))};
    }
    return log_;
}

}  // namespace norvale
