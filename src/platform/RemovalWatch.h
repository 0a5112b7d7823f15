// Seam: blocking wait for a change under the watched interface's registry key.
#pragma once

#include <string>

#include "platform/StopSignal.h"

namespace norvale {

// Contract: waitForChange() opens `keyPath` under HKEY_LOCAL_MACHINE for reading, waits until
// anything in that key or below it changes (a subkey added or deleted, a value set), closes the
// key and returns true. When the key can't be opened, or the wait fails, it returns false at once
// and holds nothing open. There is no timeout; a stop requested on `stop` (before the call, or
// from any thread during the wait) ends it at once with false, the key closed, so its owner can
// join the waiting thread. A default StopToken never stops.
class RemovalWatch {
public:
    virtual ~RemovalWatch() = default;
    virtual bool waitForChange(const std::string& keyPath, StopToken stop) = 0;
};

}  // namespace norvale
