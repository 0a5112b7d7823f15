// Locks named across the programs of one computer: one holder of a name at a time.
#pragma once

#include <memory>
#include <string>

namespace norvale {

// Held until destroyed; the holder's process ending releases it too (a crash leaves no lock).
class HeldLock {
public:
    virtual ~HeldLock() = default;
};

// What tryHold() found.
struct LockAttempt {
    std::unique_ptr<HeldLock> hold;  // the lock, now this caller's
    // Null hold: whether another holder has the name (another program of the computer, or another
    // hold in this process), as against no lock to be had at all (the lock's folder can't be
    // made), which the caller may take as no one else's claim.
    bool heldElsewhere = false;
};

// Contract: tryHold(name) takes the lock `name` (letters, digits and '-', at most 64 characters)
// without waiting. Two holds of one name never exist at once, whether asked for in one process or
// in two; a hold goes on destruction, from any thread. The bindings: a named mutex on Windows, a
// file locked with flock() on POSIX, a set of names in the simulator (its phones belong to its
// process alone). An object outlives every hold it gave.
class NamedLocks {
public:
    virtual ~NamedLocks() = default;
    virtual LockAttempt tryHold(const std::string& name) = 0;
};

}  // namespace norvale
