// Arrivals by scanning both roads, removals by each phone's removal notice and by the scans.
#include "presence/PhoneWatcher.h"

#include <algorithm>
#include <chrono>
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
    Shared(Platform& platform, Arrived arrived, Left left, UnreadBus unreadBus)
        : platform(platform),
          arrived(std::move(arrived)),
          left(std::move(left)),
          unreadBus(std::move(unreadBus)) {}

    struct Entry {
        WatchedPhone watched;
        std::shared_ptr<SessionState> session;
        std::string attachment;  // a USB phone's, as the look that found it named it
    };

    Platform& platform;
    Arrived arrived;
    Left left;
    UnreadBus unreadBus;

    std::mutex mutex;
    std::condition_variable idle;
    std::map<Key, Entry> watched;  // under mutex
    std::uint64_t arrivals = 0;    // under mutex
    bool stopped = false;          // under mutex
    bool unreadTold = false;       // under mutex: the bus could not be read, and it was said
    // When the bus was last read (by a scan or the bus watch); under mutex.
    std::optional<std::chrono::steady_clock::time_point> lastLookAt;

    void lookedAt() {
        std::lock_guard lock(mutex);
        lastLookAt = std::chrono::steady_clock::now();
    }
    bool lookedAtLately() {
        std::lock_guard lock(mutex);
        return lastLookAt && std::chrono::steady_clock::now() - *lastLookAt <
                                 std::chrono::milliseconds(kUsbBusLookedMs);
    }
    unsigned inCallback = 0;  // under mutex
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

    // Whether `look` read the bus; the first look that could not is told (once until one
    // could again).
    bool readable(const UsbBusLook& look) {
        bool tell = false;
        {
            std::lock_guard lock(mutex);
            if (look.read) {
                unreadTold = false;
                return true;
            }
            tell = !unreadTold && unreadBus;
            unreadTold = true;
        }
        if (tell) callback([&] { unreadBus(); });
        return false;
    }

    // Reports every watched USB phone that `look` shows no longer there: its socket empty, or
    // another attachment in it.
    void reportUsbDepartures(const UsbBusLook& look) {
        std::vector<std::pair<Key, std::uint64_t>> gone;
        {
            std::lock_guard lock(mutex);
            for (const auto& [key, entry] : watched) {
                if (key.first != Road::usb) continue;
                const UsbAttached still{key.second, entry.attachment};
                if (std::find(look.phones.begin(), look.phones.end(), still) == look.phones.end()) {
                    gone.emplace_back(key, entry.watched.arrival);
                }
            }
        }
        for (const auto& [key, arrival] : gone) reportLeft(key, arrival);
    }

    bool watchesUsb() {
        std::lock_guard lock(mutex);
        return std::any_of(watched.begin(), watched.end(),
                           [](const auto& entry) { return entry.first.first == Road::usb; });
    }

    // The one watch of the bus for every USB phone: a notice of a change or the interval, then
    // one look. Ends when the watcher goes.
    static void watchBus(const std::shared_ptr<Shared>& self) {
        const StopToken stop = self->stopWaits.token();
        while (!stop.stopRequested()) {
            const bool told = self->platform.usb.waitForBusChange(stop, kUsbBusLookMs);
            if (stop.stopRequested()) return;
            if (!self->watchesUsb() || (!told && self->lookedAtLately())) continue;
            const UsbBusLook look = self->platform.usb.lookAtBus();
            if (!self->readable(look)) continue;
            self->lookedAt();
            self->reportUsbDepartures(look);
        }
    }

    // The watch thread of one driver arrival: a removal notice, or a wait that can't be made
    // because the phone is gone already, reports it; a change that left it there (a driver's key
    // changes for more than removals) waits again; a wait that can't be made for a phone still
    // there leaves it to the scans. A wait ended by the watcher's going asks and says nothing.
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
                self->platform.removalWatch.waitForChange(removalKeyPath(key.second), stop);
            if (stop.stopRequested()) return;
            AttachedPhone probe;
            probe.road = key.first;
            probe.path = key.second;
            if (!stillAttached(self->platform, probe)) {
                self->reportLeft(key, arrival);
                return;
            }
            if (!noticed) return;
        }
    }
};

PhoneWatcher::PhoneWatcher(Platform& platform, Arrived arrived, Left left, UnreadBus unreadBus)
    : shared_(std::make_shared<Shared>(platform, std::move(arrived), std::move(left),
                                       std::move(unreadBus))) {}

PhoneWatcher::~PhoneWatcher() {
    {
        std::unique_lock lock(shared_->mutex);
        shared_->stopped = true;
        shared_->idle.wait(lock, [&] { return shared_->inCallback == 0; });
    }
    shared_->stopWaits.requestStop();
    for (WatchThread& watch : threads_) watch.thread->join();
    if (busWatch_) busWatch_->join();
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
    const UsbBusLook bus = self.platform.usb.lookAtBus();
    if (self.readable(bus)) {
        self.lookedAt();
        self.reportUsbDepartures(bus);
    }

    // Watched driver phones no longer listed left (their watch threads may have said so already).
    std::vector<std::pair<Key, std::uint64_t>> gone;
    bool unknownInterface = false;
    {
        std::lock_guard lock(self.mutex);
        for (const auto& [key, entry] : self.watched) {
            if (key.first == Road::driver && std::find(driverPaths.begin(), driverPaths.end(),
                                                       key.second) == driverPaths.end()) {
                gone.emplace_back(key, entry.watched.arrival);
            }
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
    std::map<std::string, std::string> attachments;
    for (const UsbAttached& phone : bus.phones) {
        found.push_back(AttachedPhone::onUsb(phone.location));
        attachments[phone.location] = phone.attachment;
    }
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
            const std::string attachment =
                key.first == Road::usb ? attachments[key.second] : std::string{};
            self.watched.emplace(key, Shared::Entry{watched, nullptr, attachment});
        }
        std::shared_ptr<SessionState> session;
        self.callback([&] { session = self.arrived(watched); });
        {
            std::lock_guard lock(self.mutex);
            const auto entry = self.watched.find(key);
            // Only this thread reports a phone gone before its watch thread starts.
            if (entry != self.watched.end()) entry->second.session = session;
        }
        if (key.first == Road::usb) {
            if (!busWatch_) {
                busWatch_ = self.platform.threads.startJoinable(
                    [owner = shared_] { Shared::watchBus(owner); });
            }
            continue;
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
