// Test threads that hold every started body at a gate until the test opens it.
#pragma once

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <utility>

#include "platform/ThreadStarter.h"
#include "sim/StdThreadStarter.h"

namespace norvale::testing {

// Real threads (joined through the StdThreadStarter they run on) whose bodies wait until open(),
// so a test can click while a worker is known to be running. Before the body runs, `prelude`
// (if set) runs on the new thread; it stands for a worker's own work where a test needs one.
class GatedThreads final : public ThreadStarter {
public:
    explicit GatedThreads(StdThreadStarter& threads) : threads_(threads) {}

    bool start(std::function<void()> body) override {
        const bool started = threads_.start([this, gate = gate_, body = std::move(body)] {
            if (prelude) prelude();
            gate.wait();
            body();
        });
        if (started) ++started_;
        return started;
    }
    std::unique_ptr<JoinableThread> startJoinable(std::function<void()> body) override {
        auto thread = threads_.startJoinable([this, gate = gate_, body = std::move(body)] {
            if (prelude) prelude();
            gate.wait();
            body();
        });
        if (thread) ++started_;
        return thread;
    }
    void open() {
        if (!opened_.exchange(true)) opener_.set_value();
    }
    int started() const { return started_.load(); }

    std::function<void()> prelude;

private:
    StdThreadStarter& threads_;
    std::promise<void> opener_;
    std::shared_future<void> gate_ = opener_.get_future().share();
    std::atomic<bool> opened_{false};
    std::atomic<int> started_{0};
};

}  // namespace norvale::testing
