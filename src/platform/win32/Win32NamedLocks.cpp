// The mutex's existence is the lock: nobody waits on it.
#include "platform/win32/Win32NamedLocks.h"

#include <windows.h>

#include <memory>
#include <string>

#include "platform/win32/Win32Handles.h"

namespace norvale {
namespace {

class MutexHold final : public HeldLock {
public:
    explicit MutexHold(UniqueHandle mutex) : mutex_(std::move(mutex)) {}

private:
    UniqueHandle mutex_;
};

}  // namespace

LockAttempt Win32NamedLocks::tryHold(const std::string& name) {
    // The names are ASCII by the seam's contract.
    const std::wstring wide = L"Global\\" + std::wstring(name.begin(), name.end());
    UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, wide.c_str()));
    const DWORD error = ::GetLastError();
    if (!mutex) return {nullptr, error == ERROR_ACCESS_DENIED};
    if (error == ERROR_ALREADY_EXISTS) return {nullptr, true};
    return {std::make_unique<MutexHold>(std::move(mutex)), false};
}

}  // namespace norvale
