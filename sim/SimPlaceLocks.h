// The simulator's named locks: its phones belong to its process, so the names do too.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/NamedLocks.h"

namespace norvale {

// NamedLocks over a set of names held in this object: two holds of one name are refused whether
// they come from one station or from two sharing the simulated phones.
class SimPlaceLocks final : public NamedLocks {
public:
    LockAttempt tryHold(const std::string& name) override;

private:
    class Hold;

    std::shared_ptr<std::mutex> mutex_ = std::make_shared<std::mutex>();
    std::shared_ptr<std::set<std::string>> held_ = std::make_shared<std::set<std::string>>();
};

}  // namespace norvale
