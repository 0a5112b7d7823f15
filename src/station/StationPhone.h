// One phone run in a station: what its session's thread reports, faces copy and the journal keeps.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Message.h"
#include "station/StationModel.h"

namespace norvale {

// The session's thread writes, any thread copies: every member is guarded by one mutex, held
// only to copy a few fields, never across a transfer.
class StationPhone {
public:
    StationPhone(std::size_t arrival, std::string place, std::string road, std::size_t steps);

    // The session's thread.
    void identify(std::string bootVersion, std::string mode);
    void beginCommand(std::size_t index, std::string name);
    void showTransfer(std::uint64_t done, std::uint64_t total, std::uint64_t nowMs);
    // A transfer ended: what it moved counts to the running command's bytes.
    void endTransfer();
    // The flash bytes the running command moved so far; the count starts again at zero.
    std::uint64_t takeCommandBytes();
    void log(const Message& message);
    void end(bool failed, std::optional<MessageId> reasonId, std::string reason);

    // Any thread.
    PhoneRow row(std::uint64_t nowMs) const;
    std::vector<Message> log() const;

private:
    mutable std::mutex mutex_;
    PhoneRow row_;
    std::vector<Message> log_;
    std::uint64_t transferStartMs_ = 0;
    std::uint64_t commandBytes_ = 0;
};

}  // namespace norvale
