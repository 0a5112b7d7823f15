#include "platform/StopSignal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace norvale {
namespace {

TEST(StopSignal, AWakeRunsOnceAtTheStopOrAtOnceWhenTheStopCameFirstAndNeverOnADefaultToken) {
    StopSource source;
    int early = 0;
    {
        const StopWake wake(source.token(), [&] { ++early; });
        EXPECT_EQ(early, 0);
        EXPECT_FALSE(source.token().stopRequested());
        source.requestStop();
        source.requestStop();
    }
    EXPECT_EQ(early, 1);
    EXPECT_TRUE(source.token().stopRequested());

    int late = 0;
    const StopWake after(source.token(), [&] { ++late; });
    EXPECT_EQ(late, 1);

    // A wake that has ended is gone: the source's stop no longer reaches it.
    StopSource other;
    int ended = 0;
    {
        const StopWake gone(other.token(), [&] { ++ended; });
    }
    other.requestStop();
    EXPECT_EQ(ended, 0);

    int never = 0;
    const StopToken none;
    const StopWake idle(none, [&] { ++never; });
    EXPECT_FALSE(none.stopRequested());
    EXPECT_EQ(never, 0);
}

// The station's end: the waiter sees the stop and leaves while the stopping thread is still inside
// the wake it registered. Ending the wake must wait for that wake, and must not wait for ever
// (the hang the standard stop callback gave on Windows, a few runs in a hundred).
TEST(StopSignal, AWaiterLeavingWhileItsWakeRunsWaitsForThatWakeAndNoLonger) {
    for (int run = 0; run < 200; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        StopSource source;
        std::mutex mutex;
        std::condition_variable changed;
        std::atomic<bool> inWake{false};
        std::atomic<bool> wakeDone{false};
        bool waiting = false;
        bool wakeDoneWhenLeft = false;
        std::thread waiter([&] {
            {
                const StopWake wake(source.token(), [&] {
                    inWake.store(true);
                    {
                        const std::lock_guard lock(mutex);
                        changed.notify_all();
                    }
                    // Still inside the wake while the waiter, woken, leaves.
                    std::this_thread::sleep_for(std::chrono::microseconds(run % 4 * 50));
                    wakeDone.store(true);
                });
                std::unique_lock lock(mutex);
                waiting = true;
                changed.notify_all();
                changed.wait(lock, [&] { return source.token().stopRequested(); });
            }
            wakeDoneWhenLeft = wakeDone.load();
        });
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return waiting; });
        }
        source.requestStop();
        waiter.join();
        EXPECT_TRUE(inWake.load());
        EXPECT_TRUE(wakeDoneWhenLeft);
    }
}

}  // namespace
}  // namespace norvale
