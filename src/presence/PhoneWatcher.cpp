// Arrivals by scanning both roads, removals by each phone's removal notice and by the scans.
#include "presence/PhoneWatcher.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/StopSignal.h"
#include "presence/FlashInterfaceFinder.h"
#include "presence/RemovalKeyPath.h"
#include "protocol/DriverPhoneLink.h"

namespace norvale {
namespace {

using Key = std::pair<Road, std::string>;

Key keyOf(const AttachedPhone& phone) { return {phone.road, phone.path}; }

}  // namespace

struct PhoneWatcher::Shared {
    Shared(Platform& platform, Arrived arrived, Left left)
        : platform(platform), arrived(std::move(arrived)), left(std::move(left)) {}

    struct Entry {
        WatchedPhone watched;
        std::shared_ptr<SessionState> session;
    };

    Platform& platform;
    Arrived arrived;
    Left left;

    std::mutex mutex;
    std::condition_variable idle;
    std::map<Key, Entry> watched;  // under mutex
    std::uint64_t arrivals = 0;    // under mutex
    bool stopped = false;          // under mutex
    unsigned inCallback = 0;       // under mutex
    // Requested when the watcher goes: every removal wait ends, and with it its thread.
    StopSource stopWaits;
    // Held across a callback, so no two run at once.
    std::mutex callbackMutex;

    // Runs `call` unless the watcher is gone, counted so destruction waits for it.
    template <class Call>
    void callback(Call&& call) {
        {
            std::lock_guard lock(mutex);
            if (stopped) return;
            ++inCallback;
        }
        {
            std::lock_guard serial(callbackMutex);
            call();
        }
        std::lock_guard lock(mutex);
        --inCallback;
        idle.notify_all();
    }

    // Reports the arrival numbered `arrival` as gone, once.
    void reportLeft(const Key& key, std::uint64_t arrival) {
        std::optional<Entry> gone;
        {
            std::lock_guard lock(mutex);
            const auto found = watched.find(key);
            if (found == watched.end() || found->second.watched.arrival != arrival) return;
            gone = std::move(found->second);
            watched.erase(found);
        }
        if (gone->session) gone->session->connected.store(false);
        callback([&] { left(gone->watched); });
    }

    // The watch thread of one arrival: a removal notice, or a wait that can't be made because
    // the phone is gone already, reports it; a change that left it there (a driver's key changes
    // for more than removals) waits again; a wait that can't be made for a phone still there
    // leaves it to the scans. On the USB road a removal notice is final: the same location
    // attached again is a new arrival. A wait ended by the watcher's going asks and says nothing.
    static void watch(const std::shared_ptr<Shared>& self, Key key, std::uint64_t arrival) {
        const StopToken stop = self->stopWaits.token();
        for (;;) {
            {
                std::lock_guard lock(self->mutex);
                const auto found = self->watched.find(key);
                if (self->stopped || found == self->watched.end() ||
                    found->second.watched.arrival != arrival) {
                    return;
                }
            }
            const bool noticed =
                key.first == Road::usb
                    ? self->platform.usb.waitForRemoval(key.second, stop)
                    : self->platform.removalWatch.waitForChange(removalKeyPath(key.second), stop);
            if (stop.stopRequested()) return;
            AttachedPhone probe;
            probe.road = key.first;
            probe.path = key.second;
            if ((noticed && key.first == Road::usb) || !stillAttached(self->platform, probe)) {
                self->reportLeft(key, arrival);
                return;
            }
            if (!noticed) return;
        }
    }
};

PhoneWatcher::PhoneWatcher(Platform& platform, Arrived arrived, Left left)
    : shared_(std::make_shared<Shared>(platform, std::move(arrived), std::move(left))) {}

PhoneWatcher::~PhoneWatcher() {
    {
        std::unique_lock lock(shared_->mutex);
        shared_->stopped = true;
        shared_->idle.wait(lock, [&] { return shared_->inCallback == 0; });
    }
    shared_->stopWaits.requestStop();
    for (WatchThread& watch : threads_) watch.thread->join();
}

std::size_t PhoneWatcher::watching() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->watched.size();
}

void PhoneWatcher::scan() {
    Shared& self = *shared_;
    // The threads of phones that left have returned: joined at no wait, their handles go.
    std::erase_if(threads_, [](WatchThread& watch) {
        if (!watch.ended->load()) return false;
        watch.thread->join();
        return true;
    });

    const std::vector<std::string> driverPaths = presentDriverPaths(self.platform.interfaces);
    const std::vector<std::string> usbLocations = self.platform.usb.listPhones();
    const auto listed = [&](const Key& key) {
        const auto& list = key.first == Road::usb ? usbLocations : driverPaths;
        return std::find(list.begin(), list.end(), key.second) != list.end();
    };

    // Watched phones no longer listed left (their watch threads may have said so already).
    std::vector<std::pair<Key, std::uint64_t>> gone;
    bool unknownInterface = false;
    {
        std::lock_guard lock(self.mutex);
        for (const auto& [key, entry] : self.watched) {
            if (!listed(key)) gone.emplace_back(key, entry.watched.arrival);
        }
        for (const std::string& path : driverPaths) {
            unknownInterface |= self.watched.count({Road::driver, path}) == 0;
        }
    }
    for (const auto& [key, arrival] : gone) self.reportLeft(key, arrival);

    // New phones: the driver's flash interfaces (only asked when there is one not watched yet),
    // then the bus's phones, with ids as listAttachedPhones() gives them.
    std::vector<AttachedPhone> found;
    if (unknownInterface) {
        const DriverPhoneLink link(self.platform.driver);
        FlashInterfaceFinder finder(self.platform.interfaces, link);
        for (FlashInterface& flash : finder.listFlashInterfaces(kFlashPrefix)) {
            found.push_back(AttachedPhone::onDriver(found.size() + 1, std::move(flash.path),
                                                    std::move(flash.socket)));
        }
    }
    for (const std::string& location : usbLocations)
        found.push_back(AttachedPhone::onUsb(location));
    for (AttachedPhone& phone : found) {
        const Key key = keyOf(phone);
        if (phone.road == Road::usb) {
            bool known = false;
            {
                std::lock_guard lock(self.mutex);
                known = self.watched.count(key) != 0;
            }
            // Asked of a new phone only: a watched one's session holds its device.
            if (!known) phone.serial = self.platform.usb.serialNumber(phone.path);
        }
        WatchedPhone watched;
        {
            std::lock_guard lock(self.mutex);
            if (self.stopped || self.watched.count(key) != 0) continue;
            watched = {std::move(phone), ++self.arrivals};
            self.watched.emplace(key, Shared::Entry{watched, nullptr});
        }
        std::shared_ptr<SessionState> session;
        self.callback([&] { session = self.arrived(watched); });
        {
            std::lock_guard lock(self.mutex);
            const auto entry = self.watched.find(key);
            // Only this thread reports a phone gone before its watch thread starts.
            if (entry != self.watched.end()) entry->second.session = session;
        }
        auto ended = std::make_shared<std::atomic<bool>>(false);
        std::unique_ptr<JoinableThread> thread = self.platform.threads.startJoinable(
            [owner = shared_, key, arrival = watched.arrival, ended] {
                Shared::watch(owner, key, arrival);
                ended->store(true);
            });
        if (thread) threads_.push_back({std::move(ended), std::move(thread)});
    }
}

}  // namespace norvale
