// The monitor's five states and their timings.
#include "presence/ConnectionMonitor.h"

#include "presence/RemovalKeyPath.h"
#include "presence/UsbPhoneFinder.h"

namespace norvale {

void ConnectionMonitor::run() {
    for (;;) step();
}

ConnectionMonitor::State ConnectionMonitor::step() {
    switch (state_) {
        case State::scanning: {
            FlashInterfaceFinder finder(platform_.interfaces, link_);
            watchedPath_ = finder.scanForPhone();
            watchedRoad_ = Road::driver;
            if (!watchedPath_) {
                watchedPath_ = UsbPhoneFinder(platform_.usb).scanForPhone();
                watchedRoad_ = Road::usb;
            }
            platform_.clock.sleep(kScanIntervalMs);
            state_ = watchedPath_ ? State::announcing : State::scanning;
            break;
        }
        case State::announcing:
            view_.sendPresence(kPresenceArrived);
            state_ = State::watching;
            break;
        case State::watching:
            // A key that can't be opened, or a wait that fails, counts as a removal too: a
            // phone still there is announced again after the pause. The monitor lives as long as
            // the process: its waits are never stopped.
            if (watchedRoad_ == Road::usb) {
                platform_.usb.waitForRemoval(*watchedPath_, {});
            } else {
                platform_.removalWatch.waitForChange(removalKeyPath(*watchedPath_), {});
            }
            state_ = State::removing;
            break;
        case State::removing:
            watchedPath_.reset();
            view_.sendPresence(kPresenceLeft);
            state_ = State::pausing;
            break;
        case State::pausing:
            platform_.clock.sleep(kRemovalPauseMs);
            state_ = State::scanning;
            break;
    }
    return state_;
}

}  // namespace norvale
