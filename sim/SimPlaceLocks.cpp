// A held name leaves the set when its hold goes.
#include "sim/SimPlaceLocks.h"

namespace norvale {

class SimPlaceLocks::Hold final : public HeldLock {
public:
    Hold(std::shared_ptr<std::mutex> mutex, std::shared_ptr<std::set<std::string>> held,
         std::string name)
        : mutex_(std::move(mutex)), held_(std::move(held)), name_(std::move(name)) {}
    ~Hold() override {
        std::lock_guard lock(*mutex_);
        held_->erase(name_);
    }

private:
    std::shared_ptr<std::mutex> mutex_;
    std::shared_ptr<std::set<std::string>> held_;
    std::string name_;
};

LockAttempt SimPlaceLocks::tryHold(const std::string& name) {
    std::lock_guard lock(*mutex_);
    if (!held_->insert(name).second) return {nullptr, true};
    return {std::make_unique<Hold>(mutex_, held_, name), false};
}

}  // namespace norvale
