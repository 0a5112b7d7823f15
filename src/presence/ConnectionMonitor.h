// The monitor thread: polls for a phone, announces it, waits for its removal, pauses, again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/DialogView.h"
#include "platform/Platform.h"
#include "presence/FlashInterfaceFinder.h"
#include "protocol/DriverPhoneLink.h"

namespace norvale {

inline constexpr std::uint32_t kScanIntervalMs = 1000;
inline constexpr std::uint32_t kRemovalPauseMs = 5000;

// wParam of the presence notification.
inline constexpr std::uintptr_t kPresenceArrived = 1;
inline constexpr std::uintptr_t kPresenceLeft = 0;

// Runs on its own thread from the dialog's start to the end of the process. The notifications
// are sent, not posted: while the UI thread handles an arrival nothing here runs, so the scan
// never overlaps the open, and the device path is touched by this thread alone.
//
// A scan looks at the driver's interfaces first and, when they hold no phone, at the USB devices.
// A phone found on the driver road is watched through its registry key; one found on the USB road
// through the port, which notices its removal within a second.
class ConnectionMonitor {
public:
    enum class State {
        scanning,    // scan, then 1000 ms
        announcing,  // a phone was found: arrival notification
        watching,    // blocking wait for the phone's removal (its registry key, or the USB port)
        removing,    // path released, removal notification
        pausing,     // 5000 ms, so a phone is announced no sooner than 6 s after its removal
    };

    ConnectionMonitor(Platform& platform, DialogView& view)
        : platform_(platform), view_(view), link_(platform.driver) {}

    // The thread's procedure: runs step() for ever. There is no stop signal; the thread ends
    // with the process.
    [[noreturn]] void run();

    // Does the work of the current state and moves on to the next; returns the new state. A
    // step blocks as long as its work does (the clock's sleeps, the dialog's handling, the
    // removal watch).
    State step();

    State state() const { return state_; }

private:
    Platform& platform_;
    DialogView& view_;
    DriverPhoneLink link_;
    State state_ = State::scanning;
    std::optional<std::string> watchedPath_;  // the phone being watched, from its scan on
    Road watchedRoad_ = Road::driver;         // and the road it was found on
};

}  // namespace norvale
