// An owned thread that its owner waits for before it frees what the thread uses.
#pragma once

namespace norvale {

// Contract: join() returns once the thread's body has returned and the thread has ended; later
// calls return at once. It must not be called on the thread itself. The destructor joins a thread
// not joined yet, so an owner that goes never leaves its thread running on what it gave it.
class JoinableThread {
public:
    virtual ~JoinableThread() = default;
    virtual void join() = 0;
};

}  // namespace norvale
