// Threads for the monitor and the command workers, kept so a test can wait for them.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ThreadStarter.h"

namespace norvale {

// Unlike the product's detached threads, every thread start() makes here is joined: by joinAll()
// or, at the latest, by the destructor. joinAll() must not be called from one of these threads,
// and it waits for threads started while it runs too. A thread of startJoinable() is its owner's
// to join (std::thread underneath); it counts in started() and failNextStart() applies to it.
class StdThreadStarter final : public ThreadStarter {
public:
    StdThreadStarter() = default;
    StdThreadStarter(const StdThreadStarter&) = delete;
    StdThreadStarter& operator=(const StdThreadStarter&) = delete;
    ~StdThreadStarter() override;

    bool start(std::function<void()> body) override;
    std::unique_ptr<JoinableThread> startJoinable(std::function<void()> body) override;
    void joinAll();

    std::size_t started() const;
    // Make the next start() fail, as when no thread can be made.
    void failNextStart();

private:
    mutable std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::size_t started_ = 0;
    bool failNext_ = false;
};

}  // namespace norvale
