// Seam: starting the monitor and command worker threads.
#pragma once

#include <functional>

namespace norvale {

// Contract: start() runs `body` on a new thread with the default stack and returns at once;
// nothing waits for the thread. Returns false, without running `body`, when no thread could be
// made.
class ThreadStarter {
public:
    virtual ~ThreadStarter() = default;
    virtual bool start(std::function<void()> body) = 0;
};

}  // namespace norvale
