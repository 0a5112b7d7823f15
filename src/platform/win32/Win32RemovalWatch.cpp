// Waits on RegNotifyChangeKeyValue's event until the watched key or anything below it changes, or
// a stop comes.
#include "platform/win32/Win32RemovalWatch.h"

#include "platform/win32/Win32Handles.h"

namespace norvale {

bool Win32RemovalWatch::waitForChange(const std::string& keyPath, StopToken stop) {
    // Declared before the key: the key is closed first, which ends its notification, while the
    // event it signals is still open.
    const UniqueHandle changed{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    const UniqueHandle stopped{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    if (!changed || !stopped) return false;
    UniqueHkey key;
    if (::RegOpenKeyExA(root_, keyPath.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    const StopWake wake(stop, [&stopped] { ::SetEvent(stopped.get()); });
    if (stop.stopRequested()) return false;
    // Asynchronous, so the wait can also end on the stop: the event is set once a subkey was
    // added or removed or a value was set, the moment the driver tears the interface's key down.
    // This thread waits below until then, as the asynchronous form requires of the thread that
    // asked.
    const LONG status = ::RegNotifyChangeKeyValue(
        key.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, changed.get(), TRUE);
    if (status != ERROR_SUCCESS) return false;
    const HANDLE events[] = {changed.get(), stopped.get()};
    return ::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0;
}

}  // namespace norvale
