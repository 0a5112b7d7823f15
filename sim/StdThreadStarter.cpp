// std::thread behind the thread seam.
#include "StdThreadStarter.h"

#include <system_error>

namespace norvale {

StdThreadStarter::~StdThreadStarter() { joinAll(); }

bool StdThreadStarter::start(std::function<void()> body) {
    std::lock_guard lock(mutex_);
    if (failNext_) {
        failNext_ = false;
        return false;
    }
    try {
        threads_.emplace_back(std::move(body));
    } catch (const std::system_error&) {
        return false;
    }
    ++started_;
    return true;
}

void StdThreadStarter::joinAll() {
    for (;;) {
        std::vector<std::thread> running;
        {
            std::lock_guard lock(mutex_);
            running.swap(threads_);
        }
        if (running.empty()) return;
        for (std::thread& thread : running) thread.join();
    }
}

std::size_t StdThreadStarter::started() const {
    std::lock_guard lock(mutex_);
    return started_;
}

void StdThreadStarter::failNextStart() {
    std::lock_guard lock(mutex_);
    failNext_ = true;
}

}  // namespace norvale
