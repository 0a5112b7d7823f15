// Blocks on RegNotifyChangeKeyValue until the watched key or anything below it changes.
#include "platform/win32/Win32RemovalWatch.h"

#include "platform/win32/Win32Handles.h"

namespace norvale {

bool Win32RemovalWatch::waitForChange(const std::string& keyPath) {
    UniqueHkey key;
    if (::RegOpenKeyExA(root_, keyPath.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    // Synchronous and without an event: the call returns only once a subkey was added or
    // removed or a value was set, the moment the driver tears the interface's key down.
    const LONG status = ::RegNotifyChangeKeyValue(
        key.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, nullptr, FALSE);
    return status == ERROR_SUCCESS;
}

}  // namespace norvale
