// Seam: blocking wait for a change under the watched interface's registry key.
#pragma once

#include <string>

namespace norvale {

// Contract: waitForChange() opens `keyPath` under HKEY_LOCAL_MACHINE for reading, waits until
// anything in that key or below it changes (a subkey added or deleted, a value set), closes the
// key and returns true. When the key can't be opened, or the wait fails, it returns false at once
// and holds nothing open. There is no timeout and no way to cancel the wait.
class RemovalWatch {
public:
    virtual ~RemovalWatch() = default;
    virtual bool waitForChange(const std::string& keyPath) = 0;
};

}  // namespace norvale
