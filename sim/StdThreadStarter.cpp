// std::thread behind the thread seam.
#include "StdThreadStarter.h"

#include <system_error>

namespace norvale {
namespace {

class StdJoinableThread final : public JoinableThread {
public:
    explicit StdJoinableThread(std::thread thread) : thread_(std::move(thread)) {}
    StdJoinableThread(const StdJoinableThread&) = delete;
    StdJoinableThread& operator=(const StdJoinableThread&) = delete;
    ~StdJoinableThread() override { join(); }

    void join() override {
        if (thread_.joinable()) thread_.join();
    }

private:
    std::thread thread_;
};

}  // namespace

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

std::unique_ptr<JoinableThread> StdThreadStarter::startJoinable(std::function<void()> body) {
    std::lock_guard lock(mutex_);
    if (failNext_) {
        failNext_ = false;
        return nullptr;
    }
    try {
        auto thread = std::make_unique<StdJoinableThread>(std::thread(std::move(body)));
        ++started_;
        return thread;
    } catch (const std::system_error&) {
        return nullptr;
    }
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
