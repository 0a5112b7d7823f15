// One phone's run in a station: what its session's thread reports, the table shows and the
// journal keeps.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/StationTable.h"

namespace norvale {

// The session's thread writes, the station's thread reads a row of it for the table: every
// member is guarded by one mutex, held only to copy a few fields, never across a transfer.
class StationPhone {
public:
    StationPhone(std::string location, std::string road, std::size_t steps);

    // The session's thread.
    void beginCommand(std::size_t index, std::string name);
    void showTransfer(std::uint64_t done, std::uint64_t total, std::uint64_t nowMs);
    // A transfer ended: what it moved counts to the running command's bytes.
    void endTransfer();
    // The flash bytes the running command moved so far; the count starts again at zero.
    std::uint64_t takeCommandBytes();
    void end(bool failed, std::string reason);

    // Any thread.
    TableRow row(std::uint64_t nowMs) const;

private:
    mutable std::mutex mutex_;
    TableRow row_;
    std::uint64_t transferStartMs_ = 0;
    std::uint64_t commandBytes_ = 0;
};

}  // namespace norvale
