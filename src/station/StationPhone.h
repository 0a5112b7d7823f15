// One phone run in a station: what its session's thread reports, faces copy and the journal keeps.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Message.h"
#include "station/StationModel.h"

namespace norvale {

// The session's thread writes, any thread copies: every member is guarded by one mutex, held
// only to copy a few fields, never across a transfer. Each change takes the next number of the
// station's `revisions`, so a face can ask for the rows changed since it last looked.
class StationPhone {
public:
    StationPhone(std::size_t arrival, std::string place, std::string road, std::size_t steps,
                 std::atomic<std::uint64_t>& revisions);

    // The session's thread.
    void identify(std::string bootVersion, std::string mode);
    void beginCommand(std::size_t index, std::string name);
    void showTransfer(std::uint64_t done, std::uint64_t total, std::uint64_t nowMs);
    // A transfer ended: what it moved counts to the running command's bytes.
    void endTransfer();
    // The flash bytes the running command moved so far; the count starts again at zero.
    std::uint64_t takeCommandBytes();
    void log(const Message& message);
    // The run ended; its log went to `logFile` (empty: it stays here).
    void end(bool failed, std::optional<MessageId> reasonId, std::string reason,
             std::string logFile = {});

    // Any thread.
    PhoneRow row(std::uint64_t nowMs) const;
    // Its lines; once they went to its log file, the one line that names the file.
    std::vector<Message> log() const;
    // The revision of its latest change.
    std::uint64_t revision() const;

private:
    void changed();  // under mutex_

    std::atomic<std::uint64_t>& revisions_;
    mutable std::mutex mutex_;
    std::uint64_t revision_ = 0;
    PhoneRow row_;
    std::vector<Message> log_;
    std::uint64_t transferStartMs_ = 0;
    std::uint64_t commandBytes_ = 0;
};

}  // namespace norvale
