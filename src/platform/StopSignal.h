// A request to stop, made once by an owner and seen by the threads it started, with wakes that
// end a blocking wait at once.
//
// std::stop_token does this and is not used: libstdc++ 12 ends a std::stop_callback that is
// running on another thread by waiting on a semaphore built on atomic waits, and where there is
// no futex (MinGW, so every Windows build) that wait can miss its wake and never return. A waiter
// that saw the stop and left while the stopping thread was still inside the wake it had
// registered then hung the station's end. Here the wakes run under the signal's mutex, so ending
// one waits for a wake in progress by taking that mutex, with nothing that can be missed.
//
// Contract:
// - StopSource::requestStop() marks the stop (once; later calls do nothing) and runs every wake
//   registered at that moment, on the calling thread, before it returns.
// - StopToken::stopRequested() is true from the moment requestStop() began. A default StopToken
//   never stops, and a wake registered on it never runs.
// - StopWake runs its function at once, in its constructor, when the stop was requested already;
//   otherwise at most once, from requestStop(). Its destructor returns only when its function is
//   not running and will not run.
// - A wake must be short and must not make or end a StopWake of the same source; it may take
//   locks that no thread holds while it makes or ends a StopWake.
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace norvale {

class StopWake;

namespace detail {

struct StopState {
    std::mutex mutex;
    std::atomic<bool> stopped{false};
    std::vector<StopWake*> wakes;
};

}  // namespace detail

class StopToken {
public:
    StopToken() = default;
    bool stopRequested() const { return state_ && state_->stopped.load(std::memory_order_acquire); }

private:
    friend class StopSource;
    friend class StopWake;
    explicit StopToken(std::shared_ptr<detail::StopState> state) : state_(std::move(state)) {}
    std::shared_ptr<detail::StopState> state_;
};

class StopWake {
public:
    StopWake(const StopToken& token, std::function<void()> wake)
        : state_(token.state_), wake_(std::move(wake)) {
        if (!state_) return;
        const std::lock_guard lock(state_->mutex);
        if (state_->stopped.load(std::memory_order_relaxed)) {
            wake_();
        } else {
            state_->wakes.push_back(this);
        }
    }
    ~StopWake() {
        if (!state_) return;
        const std::lock_guard lock(state_->mutex);
        std::erase(state_->wakes, this);
    }
    StopWake(const StopWake&) = delete;
    StopWake& operator=(const StopWake&) = delete;

private:
    friend class StopSource;
    std::shared_ptr<detail::StopState> state_;
    std::function<void()> wake_;
};

class StopSource {
public:
    StopSource() : state_(std::make_shared<detail::StopState>()) {}
    StopToken token() const { return StopToken(state_); }
    bool stopRequested() const { return state_->stopped.load(std::memory_order_acquire); }
    void requestStop() {
        const std::lock_guard lock(state_->mutex);
        if (state_->stopped.exchange(true, std::memory_order_acq_rel)) return;
        for (StopWake* wake : state_->wakes) wake->wake_();
        state_->wakes.clear();
    }

private:
    std::shared_ptr<detail::StopState> state_;
};

}  // namespace norvale
