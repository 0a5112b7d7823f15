// NamedLocks on POSIX: a file per name in the user's runtime folder, locked with flock().
#pragma once

#include <string>

#include "platform/NamedLocks.h"

namespace norvale {

// Each name is the file NAME.lock in `folder`, held with flock(LOCK_EX | LOCK_NB) on a descriptor
// of its own, so two holds conflict within one process as between two; the system drops the lock
// with the descriptor, at a crash too. The files stay (removing one would race with a program
// opening it). A folder that can't be had gives no lock and no claim of another holder.
class PosixNamedLocks final : public NamedLocks {
public:
    explicit PosixNamedLocks(std::string folder) : folder_(std::move(folder)) {}

    // "$XDG_RUNTIME_DIR/norvale" when the variable names an absolute folder, else
    // "/tmp/norvale-UID": the user's, made with mode 0700 when missing, taken only when it is a
    // folder (not a link) the user owns.
    static std::string userRuntimeFolder();

    LockAttempt tryHold(const std::string& name) override;

private:
    bool folderReady() const;

    std::string folder_;
};

}  // namespace norvale
