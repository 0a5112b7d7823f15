// The simulated driver's phones: attaching and detaching them, faults, traces and the bus model.
#include "SimDriver.h"

#include <algorithm>

namespace norvale {
namespace {

// Several faults at one transfer: removal outranks a hang, which outranks a lost reply.
std::optional<SimFaultKind> stronger(std::optional<SimFaultKind> a, std::optional<SimFaultKind> b) {
    const auto rank = [](SimFaultKind kind) {
        return kind == SimFaultKind::unplug ? 0 : kind == SimFaultKind::hang ? 1 : 2;
    };
    if (!a) return b;
    if (!b) return a;
    return rank(*b) < rank(*a) ? b : a;
}

std::optional<SimFaultKind> faultAt(const std::vector<SimFault>& faults, std::uint64_t transfer) {
    std::optional<SimFaultKind> chosen;
    for (const SimFault& fault : faults) {
        if (fault.transfer == transfer) chosen = stronger(chosen, fault.kind);
    }
    return chosen;
}

}  // namespace

// The hex is left out when the trace goes nowhere: for a 4096-byte transfer it is most of the
// simulator's time, which a long dump with no trace kept would spend for nothing.
std::string SimDriver::withHex(const Unit* unit, std::string line,
                               std::span<const std::uint8_t> bytes) const {
    if (!bytes.empty() && tracing(unit)) line += ' ' + SimTrace::hex(bytes);
    return line;
}

bool SimDriver::tracing(const Unit* unit) const {
    return trace_.active() || (unit && unit->trace.active());
}

void SimDriver::traceLine(Unit* unit, const std::string& line) {
    trace_.add(line);
    if (unit) unit->trace.add(line);
}

SimDriver::SimDriver(Clock& clock) : clock_(clock) {}

SimDriver::~SimDriver() {
    std::unique_lock lock(mutex_);
    for (auto& iface : interfaces_) detachLocked(*iface);
    changed_.wait(lock, [&] { return watchers_ == 0; });
}

bool SimDriver::traceToFile(unsigned phoneNumber, const std::string& path, Road road) {
    Unit* unit = unitNumbered(phoneNumber);
    if (!unit || !unit->trace.appendToFile(path)) return false;
    unit->trace.add(road == Road::usb ? "# road usb" : "# road driver");
    return true;
}

std::vector<std::string> SimDriver::traceOf(unsigned phoneNumber) const {
    const Unit* unit = unitNumbered(phoneNumber);
    return unit ? unit->trace.lines() : std::vector<std::string>{};
}

void SimDriver::keepTrace(bool keep) {
    trace_.keepInMemory(keep);
    std::lock_guard lock(mutex_);
    keepTraces_ = keep;
    for (const auto& unit : units_) unit->trace.keepInMemory(keep);
}

std::shared_ptr<SimDriver::Unit> SimDriver::unitForLocked(std::shared_ptr<SimPhone> phone) {
    for (const auto& unit : units_) {
        if (unit->phone == phone) return unit;
    }
    auto unit = std::make_shared<Unit>();
    unit->number = static_cast<unsigned>(units_.size() + 1);
    unit->phone = std::move(phone);
    unit->trace.keepInMemory(keepTraces_);
    units_.push_back(unit);
    return unit;
}

SimDriver::Unit* SimDriver::unitNumbered(unsigned number) const {
    std::lock_guard lock(mutex_);
    if (number == 0 || number > units_.size()) return nullptr;
    return units_[number - 1].get();
}

unsigned SimDriver::addPhone(std::shared_ptr<SimPhone> phone) {
    std::shared_ptr<Unit> unit;
    std::vector<std::uint32_t> stuck;
    {
        std::lock_guard lock(mutex_);
        const std::size_t before = units_.size();
        unit = unitForLocked(std::move(phone));
        if (units_.size() == before) return unit->number;
        stuck = stuckBlocks_;
    }
    std::lock_guard lock(unit->mutex);
    for (const std::uint32_t address : stuck) unit->phone->stickBlock(address);
    return unit->number;
}

unsigned SimDriver::phoneNumber(SimInterfaceId id) const {
    std::lock_guard lock(mutex_);
    const Interface* iface = findById(id);
    return iface ? iface->unit->number : 0;
}

void SimDriver::attachAt(std::uint64_t dueMs, SimInterfaceOptions options,
                         std::shared_ptr<SimPhone> phone) {
    if (!phone) phone = std::make_shared<SimPhone>();
    addPhone(phone);
    std::lock_guard lock(mutex_);
    pending_.push_back({dueMs, std::move(options), unitForLocked(std::move(phone))});
}

void SimDriver::returnAfterStart(std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    returnMs_ = ms;
}

std::vector<SimInterfaceId> SimDriver::interfaceIds() const {
    std::lock_guard lock(mutex_);
    std::vector<SimInterfaceId> ids;
    for (const auto& iface : interfaces_) ids.push_back(iface->id);
    return ids;
}

void SimDriver::attachDueLocked() {
    const std::uint64_t now = clock_.nowMs();
    // In the order they fall due, so phones that come together attach in the order asked.
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const auto& a, const auto& b) { return a.dueMs < b.dueMs; });
    while (!pending_.empty() && pending_.front().dueMs <= now) {
        PendingArrival arrival = std::move(pending_.front());
        pending_.erase(pending_.begin());
        attachLocked(std::move(arrival.options), std::move(arrival.unit));
    }
}

SimInterfaceId SimDriver::attach(SimInterfaceOptions options, std::shared_ptr<SimPhone> phone) {
    if (!phone) phone = std::make_shared<SimPhone>();
    addPhone(phone);
    std::lock_guard lock(mutex_);
    return attachLocked(std::move(options), unitForLocked(std::move(phone)));
}

SimInterfaceId SimDriver::attachLocked(SimInterfaceOptions options, std::shared_ptr<Unit> unit) {
    auto iface = std::make_shared<Interface>();
    iface->id = nextId_++;
    if (options.devicePath.empty() && options.road == Road::usb) {
        options.devicePath = "1-" + std::to_string(iface->id);  // bus 1, the port numbered after it
    } else if (options.devicePath.empty()) {
        options.devicePath = "\\\\?\\usb#vid_22b8&pid_4903#5&1b2c3d4e&0&" +
                             std::to_string(iface->id) + "#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";
    }
    iface->registryKey = registryKeyFor(options.devicePath);
    iface->in = SimInEndpoint(options.usbMaxPacketSize, options.zeroLengthAfterWhole);
    iface->options = std::move(options);
    iface->phone = unit->phone;
    iface->unit = std::move(unit);
    interfaces_.push_back(iface);
    return iface->id;
}

bool SimDriver::detach(SimInterfaceId id) {
    std::lock_guard lock(mutex_);
    Interface* iface = findById(id);
    if (!iface || !iface->attached) return false;
    detachLocked(*iface);
    return true;
}

void SimDriver::detachAll() {
    std::lock_guard lock(mutex_);
    for (auto& iface : interfaces_) detachLocked(*iface);
}

bool SimDriver::attached(SimInterfaceId id) const {
    std::lock_guard lock(mutex_);
    const Interface* iface = findById(id);
    return iface && iface->attached;
}

std::shared_ptr<SimPhone> SimDriver::phone(SimInterfaceId id) const {
    std::lock_guard lock(mutex_);
    const Interface* iface = findById(id);
    return iface ? iface->phone : nullptr;
}

std::string SimDriver::devicePathOf(SimInterfaceId id) const {
    std::lock_guard lock(mutex_);
    const Interface* iface = findById(id);
    return iface ? iface->options.devicePath : std::string{};
}

std::string SimDriver::registryKeyOf(SimInterfaceId id) const {
    std::lock_guard lock(mutex_);
    const Interface* iface = findById(id);
    return iface ? iface->registryKey : std::string{};
}

unsigned SimDriver::openAttempts(SimInterfaceId id) const {
    std::lock_guard lock(mutex_);
    const Interface* iface = findById(id);
    return iface ? iface->openAttempts : 0;
}

void SimDriver::setOpenSetFails(bool fails) {
    std::lock_guard lock(mutex_);
    openSetFails_ = fails;
}

void SimDriver::addFault(SimFaultKind kind, std::uint64_t transfer) {
    std::lock_guard lock(mutex_);
    faults_.push_back({kind, transfer});
}

void SimDriver::addFault(unsigned phoneNumber, SimFaultKind kind, std::uint64_t transfer) {
    Unit* unit = unitNumbered(phoneNumber);
    if (!unit) return;
    std::lock_guard lock(unit->mutex);
    unit->faults.push_back({kind, transfer, phoneNumber});
}

void SimDriver::stickFlashBlock(std::uint32_t address) {
    std::vector<std::shared_ptr<Unit>> units;
    {
        std::lock_guard lock(mutex_);
        stuckBlocks_.push_back(address);
        units = units_;
    }
    for (const auto& unit : units) {
        std::lock_guard lock(unit->mutex);
        unit->phone->stickBlock(address);
    }
}

void SimDriver::clearFaults() {
    std::vector<std::shared_ptr<Unit>> units;
    {
        std::lock_guard lock(mutex_);
        faults_.clear();
        units = units_;
    }
    for (const auto& unit : units) {
        std::lock_guard lock(unit->mutex);
        unit->faults.clear();
    }
}

std::uint64_t SimDriver::pipeTransfers() const {
    std::lock_guard lock(mutex_);
    return transfers_;
}

std::uint64_t SimDriver::pipeTransfersOf(unsigned phoneNumber) const {
    Unit* unit = unitNumbered(phoneNumber);
    if (!unit) return 0;
    std::lock_guard lock(unit->mutex);
    return unit->transfers;
}

void SimDriver::modelFullSpeed(bool on) { fullSpeed_.store(on); }

void SimDriver::paceTransfers(std::uint32_t ms) { paceMs_.store(ms); }

double SimDriver::modelledMs() const {
    std::lock_guard lock(mutex_);
    std::uint64_t slot = clock_.nowMs() * FullSpeedBus::kSlotsPerFrame;
    for (const auto& unit : units_) slot = std::max(slot, unit->hostSlot.load());
    return static_cast<double>(slot) / FullSpeedBus::kSlotsPerFrame;
}

SimUsbQueueCounters SimDriver::queueCounters() const {
    std::lock_guard lock(mutex_);
    SimUsbQueueCounters counters = queueCounters_;
    counters.liveQueues = queues_.size();
    return counters;
}

SimEnumerationCounters SimDriver::counters() const {
    std::lock_guard lock(mutex_);
    SimEnumerationCounters counters = counters_;
    counters.liveSets = sets_.size();
    counters.liveHandles = handles_.size();
    return counters;
}

unsigned SimDriver::watchersWaiting() const {
    std::lock_guard lock(mutex_);
    return watchers_;
}

bool SimDriver::waitForWatchers(unsigned count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return watchers_ >= count; });
}

std::shared_ptr<SimDriver::Unit> SimDriver::unitOf(DeviceHandle device) const {
    std::lock_guard lock(mutex_);
    const auto handle = handles_.find(device.bits);
    if (!device.valid() || handle == handles_.end()) return nullptr;
    return handle->second->unit;
}

std::optional<SimFaultKind> SimDriver::numberTransfer(Unit* unit, DeviceHandle device) {
    std::optional<SimFaultKind> fault;
    {
        std::lock_guard lock(mutex_);
        fault = faultAt(faults_, ++transfers_);
    }
    if (unit) fault = stronger(fault, faultAt(unit->faults, ++unit->transfers));
    if (fault == SimFaultKind::unplug) {
        std::lock_guard lock(mutex_);
        unplugFor(device);
    }
    return fault;
}

void SimDriver::phoneWrote(Interface& target, SimPhone::WriteEffect effect) {
    if (effect != SimPhone::WriteEffect::leftFlashMode) return;
    std::lock_guard lock(mutex_);
    detachLocked(target);
    // It comes back as a phone that has just booted: SimPhone::write power-cycled it.
    if (returnMs_) pending_.push_back({clock_.nowMs() + *returnMs_, target.options, target.unit});
}

void SimDriver::unplugFor(DeviceHandle device) {
    // The phone the request is for; a request that names none takes the first attached phone.
    Interface* target = attachedTarget(device, Road::driver);
    if (!target) target = attachedTarget(device, Road::usb);
    if (!target) {
        for (auto& iface : interfaces_) {
            if (iface->attached) {
                target = iface.get();
                break;
            }
        }
    }
    if (target) detachLocked(*target);
}

std::uint64_t SimDriver::hostSlot(Unit* unit) {
    if (!unit) return clock_.nowMs() * FullSpeedBus::kSlotsPerFrame;
    unit->hostSlot.store(
        std::max(unit->hostSlot.load(), clock_.nowMs() * FullSpeedBus::kSlotsPerFrame));
    return unit->hostSlot.load();
}

std::uint32_t SimDriver::busTime(Unit* unit, std::size_t bytes,
                                 std::optional<std::uint64_t> submitted) {
    const std::uint32_t pace = paceMs_.load();
    if (!fullSpeed_.load() || !unit) return pace;
    const std::uint64_t now = hostSlot(unit);
    unit->hostSlot.store(std::max(now, unit->bus.schedule(submitted.value_or(now), bytes)));
    const std::uint64_t clockMs = unit->hostSlot.load() / FullSpeedBus::kSlotsPerFrame;
    const std::uint64_t clockNow = clock_.nowMs();
    return pace + (clockMs > clockNow ? static_cast<std::uint32_t>(clockMs - clockNow) : 0);
}

SimDriver::Interface* SimDriver::findById(SimInterfaceId id) const {
    for (const auto& iface : interfaces_) {
        if (iface->id == id) return iface.get();
    }
    return nullptr;
}

SimDriver::Interface* SimDriver::attachedNow(DeviceHandle device, Road road) const {
    std::lock_guard lock(mutex_);
    return attachedTarget(device, road);
}

SimDriver::Interface* SimDriver::attachedTarget(DeviceHandle device, Road road) const {
    const auto handle = handles_.find(device.bits);
    if (!device.valid() || handle == handles_.end() || !handle->second->attached) return nullptr;
    if (handle->second->options.road != road) return nullptr;
    return handle->second.get();
}

void SimDriver::detachLocked(Interface& iface) {
    iface.attached = false;
    ++removals_;
    changed_.notify_all();
}

bool SimDriver::waitUntilDetached(const std::function<bool(const Interface&)>& watches,
                                  const StopToken& stop) {
    // The wake takes the lock, so it can't fall between the waiter's look at the stop and its
    // wait. Registered before the lock is taken (a stop already requested runs it at once) and
    // gone after it is released (its destruction waits for a wake in progress).
    const StopWake wake(stop, [this] {
        const std::lock_guard lock(mutex_);
        changed_.notify_all();
    });
    std::unique_lock lock(mutex_);
    std::shared_ptr<Interface> watched;
    for (const auto& iface : interfaces_) {
        if (iface->attached && watches(*iface)) watched = iface;
    }
    if (!watched || stop.stopRequested()) return false;
    ++watchers_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !watched->attached || stop.stopRequested(); });
    --watchers_;
    changed_.notify_all();
    return !stop.stopRequested();
}

}  // namespace norvale
