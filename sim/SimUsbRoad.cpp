// The USB road of the simulator: bulk transfers held to the bus's packet rules, string
// descriptors and the removal of a USB device.
#include "SimDriver.h"

#include <algorithm>
#include <cstdio>

#include "protocol/UsbPhoneLink.h"

namespace norvale {

std::vector<std::string> SimDriver::listPhones() {
    std::lock_guard lock(mutex_);
    attachDueLocked();
    std::vector<std::string> phones;
    for (const auto& iface : interfaces_) {
        if (iface->attached && iface->options.road == Road::usb) {
            phones.push_back(iface->options.devicePath);
        }
    }
    return phones;
}

UsbBusLook SimDriver::lookAtBus() {
    std::lock_guard lock(mutex_);
    attachDueLocked();
    UsbBusLook look{true, {}};
    for (const auto& iface : interfaces_) {
        if (iface->attached && iface->options.road == Road::usb) {
            look.phones.push_back({iface->options.devicePath, std::to_string(iface->id)});
        }
    }
    return look;
}

bool SimDriver::waitForBusChange(StopToken stop, std::uint32_t waitMs) {
    const StopWake wake(stop, [this] {
        const std::lock_guard lock(mutex_);
        changed_.notify_all();
    });
    std::unique_lock lock(mutex_);
    const std::uint64_t seen = removals_;
    ++watchers_;
    changed_.notify_all();
    changed_.wait_for(lock, std::chrono::milliseconds(waitMs),
                      [&] { return stop.stopRequested() || removals_ != seen; });
    --watchers_;
    changed_.notify_all();
    return removals_ != seen;
}

std::string SimDriver::serialNumber(const std::string& location) {
    std::lock_guard lock(mutex_);
    for (const auto& iface : interfaces_) {
        if (iface->attached && iface->options.road == Road::usb &&
            iface->options.devicePath == location) {
            return iface->options.serialNumber;
        }
    }
    return {};
}

UsbOpenFailure SimDriver::openFailure(const std::string& location) {
    std::lock_guard lock(mutex_);
    for (const auto& iface : interfaces_) {
        if (!iface->attached || iface->options.road != Road::usb ||
            iface->options.devicePath != location) {
            continue;
        }
        if (iface->options.denyOpen) return UsbOpenFailure::noPermission;
        return iface->options.failOpen ? UsbOpenFailure::failed : UsbOpenFailure::none;
    }
    return UsbOpenFailure::gone;
}

std::uint32_t SimDriver::maxPacketSize(DeviceHandle device) {
    std::lock_guard lock(mutex_);
    // Known from the descriptors read at the open, so it outlives the device's removal.
    const auto handle = handles_.find(device.bits);
    if (!device.valid() || handle == handles_.end()) return 0;
    if (handle->second->options.road != Road::usb) return 0;
    return handle->second->options.usbMaxPacketSize;
}

UsbTransfer SimDriver::underPhoneLock(DeviceHandle device,
                                      const std::function<UsbOutcome(Unit*)>& transfer) {
    const std::uint64_t cancels = cancelsOf(device);
    UsbOutcome outcome;
    {
        const std::shared_ptr<Unit> unit = unitOf(device);
        std::unique_lock<std::mutex> phoneLock;
        if (unit) phoneLock = std::unique_lock(unit->mutex);
        outcome = transfer(unit.get());
    }
    // The bus time passes with the phone free, so another transfer's thread is not held by it.
    if (outcome.waiting) {
        if (!waitUnlessCancelled(device, cancels, outcome.sleepMs)) {
            return {UsbStatus::failed, outcome.result.transferred};
        }
    } else if (outcome.sleepMs != 0) {
        clock_.sleep(outcome.sleepMs);
    }
    return outcome.result;
}

UsbTransfer SimDriver::bulkOut(DeviceHandle device, std::span<const std::uint8_t> data,
                               std::uint32_t waitMs) {
    return underPhoneLock(device, [&](Unit* unit) { return usbOut(unit, device, data, waitMs); });
}

UsbTransfer SimDriver::bulkIn(DeviceHandle device, std::span<std::uint8_t> buffer,
                              std::uint32_t waitMs) {
    return underPhoneLock(device, [&](Unit* unit) { return usbIn(unit, device, buffer, waitMs); });
}

SimDriver::UsbOutcome SimDriver::usbOut(Unit* unit, DeviceHandle device,
                                        std::span<const std::uint8_t> data, std::uint32_t waitMs) {
    const std::optional<SimFaultKind> fault = numberTransfer(unit, device);
    Interface* target = attachedNow(device, Road::usb);
    const std::string line = withHex(unit, "W " + std::to_string(kPipe), data);
    if (!target) {
        traceLine(unit, SimTrace::failed(line));
        return {{UsbStatus::gone, 0}, 0};
    }
    if (fault == SimFaultKind::hang) {
        traceLine(unit, SimTrace::failed(line));
        return {{UsbStatus::timedOut, 0}, waitMs, true};
    }
    // nodata on a write: the transfer completes, but the bytes never reach the phone.
    if (fault != SimFaultKind::nodata) phoneWrote(*target, target->phone->write(data));
    traceLine(unit, line);
    return {{UsbStatus::done, static_cast<std::uint32_t>(data.size())}, busTime(unit, data.size())};
}

SimDriver::UsbOutcome SimDriver::usbIn(Unit* unit, DeviceHandle device,
                                       std::span<std::uint8_t> buffer, std::uint32_t waitMs) {
    QueuedIn transfer;
    transfer.size = static_cast<std::uint32_t>(buffer.size());
    transfer.submittedSlot = hostSlot(unit);
    return serveIn(unit, device, transfer, buffer, waitMs);
}

SimDriver::UsbOutcome SimDriver::serveIn(Unit* unit, DeviceHandle device, QueuedIn& transfer,
                                         std::span<std::uint8_t> buffer, std::uint32_t waitMs) {
    std::optional<SimFaultKind> fault;
    if (!transfer.numbered) {
        transfer.numbered = true;
        fault = numberTransfer(unit, device);
    }
    Interface* target = attachedNow(device, Road::usb);
    const std::string line = "R " + std::to_string(kPipe) + ' ' + std::to_string(buffer.size());
    if (!target) {
        traceLine(unit, SimTrace::failed(line));
        return {{UsbStatus::gone, 0}, 0};
    }
    if (buffer.empty()) {
        // A transfer with no room for a packet is refused, as the system refuses it.
        traceLine(unit, SimTrace::failed(line));
        return {{UsbStatus::failed, 0}, 0};
    }
    if (transfer.hung || fault == SimFaultKind::hang) {
        if (!transfer.hung) traceLine(unit, SimTrace::failed(line));
        transfer.hung = true;
        return {{UsbStatus::timedOut, 0}, waitMs, true};
    }
    const auto filled = [&] { return buffer.first(transfer.filled); };
    if (fault == SimFaultKind::nodata) {
        // One zero-length packet ends the transfer; the phone's reply, if any, stays queued.
        traceLine(unit, withHex(unit, line, filled()));
        return {{UsbStatus::done, static_cast<std::uint32_t>(transfer.filled)},
                busTime(unit, transfer.filled, transfer.submittedSlot)};
    }
    const SimInEndpoint::Served served = target->in.serve(*target->phone, buffer, transfer.filled);
    transfer.filled = served.filled;
    const auto transferred = static_cast<std::uint32_t>(transfer.filled);
    switch (served.end) {
        case SimInEndpoint::End::full:
        case SimInEndpoint::End::shortPacket:
            traceLine(unit, withHex(unit, line, filled()));
            return {{UsbStatus::done, transferred},
                    busTime(unit, transfer.filled, transfer.submittedSlot)};
        case SimInEndpoint::End::overflow:
            traceLine(unit, SimTrace::failed(withHex(unit, line, filled())));
            return {{UsbStatus::overflow, transferred},
                    busTime(unit, transfer.filled, transfer.submittedSlot)};
        case SimInEndpoint::End::waiting: break;
    }
    // The phone has said all it has and the transfer is neither full nor ended by a short
    // packet: the device answers NAK until the host gives up, with what came so far.
    traceLine(unit, SimTrace::failed(withHex(unit, line, filled())));
    return {{UsbStatus::timedOut, transferred}, waitMs, true};
}

// A queue's transfers live in the driver, under their phone's lock, so cancel() may reach them
// from any thread; the queue object is the host's handle on them.
class SimDriver::InQueue final : public UsbInQueue {
public:
    InQueue(SimDriver& driver, DeviceHandle device, std::shared_ptr<Unit> unit)
        : driver_(driver), device_(device), unit_(std::move(unit)) {}
    InQueue(const InQueue&) = delete;
    InQueue& operator=(const InQueue&) = delete;
    ~InQueue() override { driver_.closeQueue(*this); }

    bool submit(std::uint32_t size) override { return driver_.submitQueued(*this, size); }
    UsbReaped reap(std::uint32_t waitMs) override {
        const std::uint64_t cancels = driver_.cancelsOf(device_);
        UsbOutcome outcome;
        {
            std::lock_guard lock(unit_->mutex);
            outcome = driver_.reapQueued(*this, waitMs);
        }
        if (outcome.waiting) {
            if (!driver_.waitUnlessCancelled(device_, cancels, outcome.sleepMs)) {
                // cancel() has marked the transfer: reaped now, it ends as cancelled.
                std::lock_guard lock(unit_->mutex);
                outcome = driver_.reapQueued(*this, waitMs);
            }
        } else if (outcome.sleepMs != 0) {
            driver_.clock_.sleep(outcome.sleepMs);
        }
        const std::size_t length =
            std::min<std::size_t>(outcome.result.transferred, buffer_.size());
        return {outcome.result, std::span(buffer_).first(length)};
    }

private:
    friend class SimDriver;
    SimDriver& driver_;
    DeviceHandle device_;
    std::shared_ptr<Unit> unit_;
    std::deque<QueuedIn> transfers_;  // under the unit's lock
    Bytes buffer_;                    // the bytes of the transfer reaped last
};

std::unique_ptr<UsbInQueue> SimDriver::openInQueue(DeviceHandle device) {
    std::lock_guard lock(mutex_);
    const auto handle = handles_.find(device.bits);
    if (!device.valid() || handle == handles_.end() || handle->second->options.road != Road::usb) {
        return nullptr;
    }
    auto queue = std::make_unique<InQueue>(*this, device, handle->second->unit);
    queues_.push_back(queue.get());
    return queue;
}

bool SimDriver::submitQueued(InQueue& queue, std::uint32_t size) {
    std::lock_guard phoneLock(queue.unit_->mutex);
    std::lock_guard lock(mutex_);
    // A closed handle is refused at once; a device that went is found out when the transfer is
    // served, as it would be on the bus.
    if (handles_.find(queue.device_.bits) == handles_.end()) return false;
    QueuedIn& transfer = queue.transfers_.emplace_back();
    transfer.size = size;
    transfer.submittedSlot = hostSlot(queue.unit_.get());
    ++queueCounters_.submitted;
    queueCounters_.mostOutstanding =
        std::max(queueCounters_.mostOutstanding, queue.transfers_.size());
    return true;
}

SimDriver::UsbOutcome SimDriver::reapQueued(InQueue& queue, std::uint32_t waitMs) {
    if (queue.transfers_.empty()) return {{UsbStatus::failed, 0}, 0};
    QueuedIn& transfer = queue.transfers_.front();
    UsbOutcome outcome;
    if (transfer.cancelled) {
        outcome = {{UsbStatus::failed, 0}, 0};
    } else {
        // What a transfer took before a reap's wait ran out stays in it for the next reap.
        transfer.buffer.resize(transfer.size);
        outcome = serveIn(queue.unit_.get(), queue.device_, transfer, transfer.buffer, waitMs);
    }
    // Still outstanding after a timeout: the phone may yet answer, or the host gives up.
    if (outcome.result.status == UsbStatus::timedOut) return outcome;
    if (!transfer.cancelled) {
        std::lock_guard lock(mutex_);
        ++queueCounters_.reaped;
    }
    queue.buffer_ = std::move(transfer.buffer);
    queue.transfers_.pop_front();
    return outcome;
}

void SimDriver::closeQueue(InQueue& queue) {
    std::lock_guard phoneLock(queue.unit_->mutex);
    std::lock_guard lock(mutex_);
    for (const QueuedIn& transfer : queue.transfers_) {
        if (!transfer.cancelled) ++queueCounters_.cancelled;
    }
    queues_.erase(std::find(queues_.begin(), queues_.end(), &queue));
}

std::uint64_t SimDriver::cancelsOf(DeviceHandle device) const {
    std::lock_guard lock(mutex_);
    const auto found = cancels_.find(device.bits);
    return found == cancels_.end() ? 0 : found->second;
}

bool SimDriver::waitUnlessCancelled(DeviceHandle device, std::uint64_t cancels, std::uint32_t ms) {
    while (ms > 0) {
        if (cancelsOf(device) != cancels) return false;
        const std::uint32_t slice = std::min(ms, kSimWaitSliceMs);
        clock_.sleep(slice);
        ms -= slice;
    }
    return cancelsOf(device) == cancels;
}

UsbStatus SimDriver::resetPipe(DeviceHandle device, bool /*in*/) {
    // The simulated endpoints never halt: a reset only finds whether the phone is still there.
    // It is no pipe transfer, so it counts for no fault and leaves no trace line.
    return attachedNow(device, Road::usb) ? UsbStatus::done : UsbStatus::gone;
}

void SimDriver::cancel(DeviceHandle device) {
    // The phones whose queues hold transfers for the device, then each under its own lock; a
    // queue closed meanwhile is no longer in the list.
    std::vector<std::shared_ptr<Unit>> units;
    {
        std::lock_guard lock(mutex_);
        if (handles_.count(device.bits) != 0) ++cancels_[device.bits];
        for (InQueue* queue : queues_) {
            if (queue->device_ == device) units.push_back(queue->unit_);
        }
    }
    for (const auto& unit : units) {
        std::lock_guard phoneLock(unit->mutex);
        std::lock_guard lock(mutex_);
        for (InQueue* queue : queues_) {
            if (queue->device_ != device || queue->unit_ != unit) continue;
            for (QueuedIn& transfer : queue->transfers_) {
                if (!transfer.cancelled) ++queueCounters_.cancelled;
                transfer.cancelled = true;
            }
        }
    }
}

UsbTransfer SimDriver::stringDescriptor(DeviceHandle device, UsbString which,
                                        std::span<std::uint8_t> buffer) {
    const std::shared_ptr<Unit> unit = unitOf(device);
    std::unique_lock<std::mutex> phoneLock;
    if (unit) phoneLock = std::unique_lock(unit->mutex);
    const std::uint16_t selector =
        which == UsbString::manufacturer ? kManufacturerStringSelector : kProductStringSelector;
    char head[16];
    std::snprintf(head, sizeof head, "Q %04x", static_cast<unsigned>(selector));
    const Interface* target = attachedNow(device, Road::usb);
    if (!target) {
        traceLine(unit.get(), SimTrace::failed(head));
        return {UsbStatus::gone, 0};
    }
    const std::string& text = which == UsbString::manufacturer ? target->options.manufacturerString
                                                               : target->options.interfaceString;
    // bLength is one byte: at most 126 UTF-16 units follow the two header bytes.
    const std::size_t units = std::min<std::size_t>(text.size(), 126);
    Bytes descriptor(2 + 2 * units, 0);
    descriptor[0] = static_cast<std::uint8_t>(descriptor.size());
    descriptor[1] = 3;
    for (std::size_t i = 0; i < units; ++i)
        descriptor[2 + 2 * i] = static_cast<std::uint8_t>(text[i]);
    const std::size_t delivered = std::min(descriptor.size(), buffer.size());
    std::copy_n(descriptor.begin(), delivered, buffer.begin());
    traceLine(unit.get(),
              withHex(unit.get(), head,
                      Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(units))));
    return {UsbStatus::done, static_cast<std::uint32_t>(delivered)};
}

bool SimDriver::waitForRemoval(const std::string& location, StopToken stop) {
    return waitUntilDetached(
        [&](const Interface& iface) {
            return iface.options.road == Road::usb && iface.options.devicePath == location;
        },
        stop);
}

}  // namespace norvale
