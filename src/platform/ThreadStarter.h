// Seam: starting the monitor, command worker, station and watch threads.
#pragma once

#include <functional>
#include <memory>

#include "platform/JoinableThread.h"

namespace norvale {

// Contract:
// - start() runs `body` on a new thread with the default stack and returns at once; nothing
//   waits for the thread, which may run until the process ends (the dialog's monitor). Returns
//   false, without running `body`, when no thread could be made.
// - startJoinable() does the same and hands the thread to the caller's owner, which waits for it
//   (JoinableThread); null, without running `body`, when no thread could be made. `body` and
//   what it captured are destroyed on the thread before join() returns.
class ThreadStarter {
public:
    virtual ~ThreadStarter() = default;
    virtual bool start(std::function<void()> body) = 0;
    virtual std::unique_ptr<JoinableThread> startJoinable(std::function<void()> body) = 0;
};

}  // namespace norvale
