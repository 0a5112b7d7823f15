// NamedLocks on Windows: a named mutex in the Global\ namespace, one handle per hold.
#pragma once

#include "platform/NamedLocks.h"

namespace norvale {

// A name is held while a handle to the mutex "Global\NAME" is open: CreateMutexW finding it
// there already (ERROR_ALREADY_EXISTS, in this process or another, any session of the
// computer), or another user's that this one may not open (ERROR_ACCESS_DENIED), is another
// holder. The system closes the handle when the process ends, at a crash too.
class Win32NamedLocks final : public NamedLocks {
public:
    LockAttempt tryHold(const std::string& name) override;
};

}  // namespace norvale
