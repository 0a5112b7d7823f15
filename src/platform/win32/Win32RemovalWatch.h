// The removal watch seam over a registry change notification that a stop can end.
#pragma once

#include <windows.h>

#include "platform/RemovalWatch.h"

namespace norvale {

// Watches keys under `root`: HKEY_LOCAL_MACHINE in the program; a test passes a root it may
// write to.
class Win32RemovalWatch final : public RemovalWatch {
public:
    explicit Win32RemovalWatch(HKEY root = HKEY_LOCAL_MACHINE) : root_(root) {}
    bool waitForChange(const std::string& keyPath, StopToken stop) override;

private:
    HKEY root_;
};

}  // namespace norvale
