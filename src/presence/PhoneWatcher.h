// Every flash-mode phone that arrives or leaves, on both roads, for a front end that serves many.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/SessionState.h"
#include "platform/JoinableThread.h"
#include "platform/Platform.h"
#include "presence/AttachedPhones.h"

namespace norvale {

// One arrival of a phone. `phone.path` is its stable key on its road (the USB location, or the
// driver interface's device path); `phone.location` the socket it is plugged into; `phone.id` is as
// listAttachedPhones() gives it at the arrival. `arrival` numbers the watcher's arrivals from 1: a
// phone that leaves and comes back is a new arrival with a new number, even at the same location.
struct WatchedPhone {
    AttachedPhone phone;
    std::uint64_t arrival = 0;
};

// The watcher's one watch of the bus wakes every kUsbBusLookMs when the system tells of no change,
// and looks at the bus unless someone did within kUsbBusLookedMs (a station's scan, once a
// second): a removal is seen within a second whatever the number of phones, and the bus is
// looked at about once a second in all. A notice of a change is always looked at.
inline constexpr std::uint32_t kUsbBusLookMs = 450;
inline constexpr std::uint32_t kUsbBusLookedMs = 900;

// Contract:
// - scan() looks at both roads once: each phone it finds that is not being watched is reported
//   to `arrived` (driver interfaces whose selector-2 string begins "Motorola Flash", in the
//   driver's order, then USB phones in the bus's order), and each watched phone no longer
//   present is reported to `left`. A scan opens only interfaces it does not know yet, to ask for
//   their string (closing them again); phones being watched are looked for by path or location
//   alone, so a session's open handle is never competed with.
// - Between scans the USB phones are watched all together by one thread: it waits for the bus's
//   notice of a change (UsbPort::waitForBusChange) or kUsbBusLookMs, then looks at the bus once
//   for every phone it watches (no look while it watches none, nor after a timeout when the bus
//   was looked at within kUsbBusLookedMs). A USB phone is gone when the
//   look has no phone at its location, or one of another attachment there: a phone put into the
//   socket at once after the other left is a new arrival, never the old one still.
// - Each driver arrival is watched through the driver's RemovalWatch on its interface's registry
//   key on a thread of its own. Threads are started through the platform's ThreadStarter and
//   owned by the watcher, so a removal is reported as soon as the road tells of it; where the
//   road can't watch it (the key can't be opened, no thread could be made), the next scan finds
//   it gone.
// - A look at the bus that could not read it tells nothing of the phones: every USB phone is kept
//   and no arrival is made from it, and the next look tries again. `unreadBus` (when given) is
//   told once when the bus can't be read, and again only after a look that could.
// - `arrived` returns the session that serves the phone, or null. When that phone leaves, its
//   session's `connected` is cleared before `left` is called: the session's running command
//   fails at its next transfer (the phone is gone), and the front end knows not to start
//   another. The watcher keeps the session alive until then.
// - `arrived` is called on the thread that calls scan(); `left` on it or on the phone's watch
//   thread. For one arrival, `left` comes at most once and never before `arrived` returned; no
//   two callbacks run at once. Callbacks may call scan() from no thread but the scanning one and
//   must not destroy the watcher.
// - Destruction (on the scanning thread) waits for a callback in progress and stops all later
//   ones, stops every removal wait and joins every watch thread: once it returns, no thread of
//   the watcher's runs and the platform may go.
class PhoneWatcher {
public:
    using Arrived = std::function<std::shared_ptr<SessionState>(const WatchedPhone&)>;
    using Left = std::function<void(const WatchedPhone&)>;
    using UnreadBus = std::function<void()>;

    PhoneWatcher(Platform& platform, Arrived arrived, Left left, UnreadBus unreadBus = {});
    PhoneWatcher(const PhoneWatcher&) = delete;
    PhoneWatcher& operator=(const PhoneWatcher&) = delete;
    ~PhoneWatcher();

    void scan();
    // Phones being watched now.
    std::size_t watching() const;

private:
    struct Shared;
    // A watch thread, and whether its body has returned (so a scan may join it at no wait).
    struct WatchThread {
        std::shared_ptr<std::atomic<bool>> ended;
        std::unique_ptr<JoinableThread> thread;
    };

    std::shared_ptr<Shared> shared_;
    std::vector<WatchThread> threads_;          // the scanning thread's alone
    std::unique_ptr<JoinableThread> busWatch_;  // started at the first USB arrival
};

}  // namespace norvale
