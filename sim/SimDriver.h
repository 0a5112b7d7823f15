// The simulated flash-mode driver: control requests, interface enumeration and removal watch.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "SimFaults.h"
#include "SimPhone.h"
#include "SimTrace.h"
#include "platform/Clock.h"
#include "platform/DriverPort.h"
#include "platform/InterfaceEnumerator.h"
#include "platform/RemovalWatch.h"
#include "platform/UsbPort.h"
#include "protocol/FullSpeedBus.h"

namespace norvale {

using SimInterfaceId = std::uint32_t;

// One attached flash-mode phone as the system sees it, on the road it stands behind, with the
// test hooks that make a member misbehave during enumeration.
struct SimInterfaceOptions {
    // driver: an interface of the maker's driver; usb: a bare 22B8:4903 device on the bus.
    Road road = Road::driver;
    // The driver's device path, or the USB location; empty: a unique one is made.
    std::string devicePath;
    std::string manufacturerString = "Motorola Inc.";          // selector 0x0103; USB manufacturer
    std::string interfaceString = "Motorola Flash Interface";  // selector 0x0002; USB product
    std::uint32_t usbMaxPacketSize = 64;  // the bulk IN endpoint's (full speed)
    std::uint32_t sizeQueryError = 0;     // non-zero: the detail size query fails with this error
    bool failDetailFetch = false;
    bool failOpen = false;  // as when another program holds it without sharing
};

// What the queues of bulk IN transfers went through, for tests that check the read-ahead.
struct SimUsbQueueCounters {
    std::uint64_t submitted = 0;
    std::uint64_t reaped = 0;     // ended and handed to the host (timeouts not counted)
    std::uint64_t cancelled = 0;  // still outstanding when their queue went, or cancel()ed
    std::size_t mostOutstanding = 0;
    std::size_t liveQueues = 0;
};

struct SimEnumerationCounters {
    std::size_t liveSets = 0;
    std::size_t liveHandles = 0;
    std::uint64_t setsOpened = 0;
    std::uint64_t memberCalls = 0;
    std::uint64_t detailSizeCalls = 0;
    std::uint64_t devicePathCalls = 0;
    std::uint64_t pathsDelivered = 0;
    std::uint64_t openCalls = 0;
    // Misuse: closing a set or handle that is unknown or already closed, or naming an unknown set.
    std::uint64_t badSetCloses = 0;
    std::uint64_t badHandleCloses = 0;
    std::uint64_t unknownSetCalls = 0;
};

// Contract, beyond the four seams it implements:
// - Requests carry exactly the records the phone link builds; a request whose code, pipe or
//   buffer sizes don't match is rejected at once (not completed), and so is one on a closed
//   handle, on kInvalidDevice, on an interface that was detached or on a USB device.
// - USB transfers carry the same data bytes without records; the trace shows them in the same
//   W, R and Q lines (an R line names the bulk IN request's size). A bulk IN transfer when the
//   phone has nothing to say waits out its wait time, as a device that keeps answering NAK does;
//   a nodata fault on it delivers one zero-length packet.
// - Queued bulk IN transfers are served in order when the host reaps them, each as bulkIn()
//   would serve it then: one trace line and one fault number per transfer served, so a read
//   streams the same trace as one transfer at a time. One still outstanding when its queue goes
//   never reached the phone: no trace line, no number. A hang leaves its transfer outstanding.
// - The driver enumerates only driver interfaces and the USB port lists only USB devices, each in
//   attach order; each open() gives a fresh handle, good on its own road only.
// - detach() (or the phone restarting with 'S' 'A', or an unplug fault) makes later requests on
//   the interface's handles fail, takes it out of the enumeration and wakes the removal watch on
//   its key.
// - Every call may come from any thread. The removal watch blocks without holding the lock.
class SimDriver final : public DriverPort,
                        public InterfaceEnumerator,
                        public RemovalWatch,
                        public UsbPort {
public:
    explicit SimDriver(Clock& clock);
    SimDriver(const SimDriver&) = delete;
    SimDriver& operator=(const SimDriver&) = delete;
    // Detaches everything and waits until no thread is left inside waitForChange().
    ~SimDriver() override;

    // The simulator of norvale-sim.exe and norvale-cli --sim: one default phone on the road that
    // NORVALE_SIM_ROAD names (driver, the default, or usb), faults and trace file from the
    // environment, no in-memory trace.
    static std::unique_ptr<SimDriver> fromEnvironment(Clock& clock);
    // Applies NORVALE_SIM_FAULTS (bad items are skipped with a note on stderr) and
    // NORVALE_SIM_TRACE (the trace file, whose first line then names `road`).
    void applyEnvironment(Road road = Road::driver);
    // NORVALE_SIM_ROAD; an unknown value is noted on stderr and gives the driver road.
    static Road roadFromEnvironment();

    // A new phone unless `phone` is given (attaching the same phone again keeps its flash).
    SimInterfaceId attach(SimInterfaceOptions options = {},
                          std::shared_ptr<SimPhone> phone = nullptr);
    bool detach(SimInterfaceId id);
    void detachAll();
    bool attached(SimInterfaceId id) const;
    std::shared_ptr<SimPhone> phone(SimInterfaceId id) const;
    // Runs `inspect` on the phone under the driver's lock, for tests that look at a phone while
    // other threads talk to it.
    template <class Inspect>
    auto withPhone(SimInterfaceId id, Inspect&& inspect) const {
        std::lock_guard lock(mutex_);
        return inspect(static_cast<const SimPhone&>(*findById(id)->phone));
    }
    std::string devicePathOf(SimInterfaceId id) const;
    std::string registryKeyOf(SimInterfaceId id) const;
    // The key under HKEY_LOCAL_MACHINE where the system keeps the interface with this path.
    static std::string registryKeyFor(const std::string& devicePath);
    // open() calls that named this interface, failed ones included.
    unsigned openAttempts(SimInterfaceId id) const;

    void setOpenSetFails(bool fails);
    void addFault(SimFaultKind kind, std::uint64_t transfer);
    // The flash block holding `address` stays as it is when written, on every phone attached now
    // or later (SimPhone::stickBlock); clearFaults() does not undo it.
    void stickFlashBlock(std::uint32_t address);
    void clearFaults();
    std::uint64_t pipeTransfers() const;

    // The benchmark's timing: with the model on, every pipe transfer and bulk transfer takes its
    // time on a full-speed bus (see FullSpeedBus) and the host waits for it on the virtual
    // clock; the host's own work takes no model time. Off (the default), transfers take none.
    void modelFullSpeed(bool on);
    // The host's time on the model in milliseconds, fractions kept.
    double modelledMs() const;
    SimUsbQueueCounters queueCounters() const;

    bool traceToFile(const std::string& path) { return trace_.appendToFile(path); }
    void keepTrace(bool keep) { trace_.keepInMemory(keep); }
    std::vector<std::string> trace() const { return trace_.lines(); }
    void clearTrace() { trace_.clear(); }

    SimEnumerationCounters counters() const;
    // Threads blocked in waitForChange() now; waitForWatchers() blocks (in real time, at most
    // `timeout`) until at least `count` are, so a test knows the monitor reached its wait.
    unsigned watchersWaiting() const;
    bool waitForWatchers(unsigned count, std::chrono::milliseconds timeout) const;

    ControlResult control(DeviceHandle device, std::uint32_t code,
                          std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                          std::uint32_t waitMs) override;

    DeviceSet openSet() override;
    std::optional<InterfaceRef> member(DeviceSet set, std::uint32_t index) override;
    DetailSizeResult detailSize(DeviceSet set, const InterfaceRef& member) override;
    std::optional<std::string> devicePath(DeviceSet set, const InterfaceRef& member,
                                          std::uint32_t requiredSize) override;
    void closeSet(DeviceSet set) override;
    DeviceHandle open(const std::string& devicePath) override;
    void close(DeviceHandle device) override;

    bool waitForChange(const std::string& keyPath) override;

    std::vector<std::string> listPhones() override;
    std::uint32_t maxPacketSize(DeviceHandle device) override;
    UsbTransfer bulkOut(DeviceHandle device, std::span<const std::uint8_t> data,
                        std::uint32_t waitMs) override;
    UsbTransfer bulkIn(DeviceHandle device, std::span<std::uint8_t> buffer,
                       std::uint32_t waitMs) override;
    UsbTransfer stringDescriptor(DeviceHandle device, UsbString which,
                                 std::span<std::uint8_t> buffer) override;
    std::unique_ptr<UsbInQueue> openInQueue(DeviceHandle device) override;
    // Ends the transfers outstanding in the device's queues; the others end inside their calls.
    void cancel(DeviceHandle device) override;
    bool waitForRemoval(const std::string& location) override;

private:
    class InQueue;
    struct QueuedIn {
        std::uint32_t size = 0;
        std::uint64_t submittedSlot = 0;  // on the bus model
        bool numbered = false;            // served once: its number and fault are taken
        bool hung = false;
        bool cancelled = false;
    };
    struct Interface {
        SimInterfaceId id = 0;
        SimInterfaceOptions options;
        std::string registryKey;
        std::shared_ptr<SimPhone> phone;
        bool attached = true;
        unsigned openAttempts = 0;
    };
    // What a request ends with: its result, and clock time to spend once the lock is released.
    struct Outcome {
        ControlResult result;
        std::uint32_t sleepMs = 0;
    };

    Outcome pipeWrite(Interface* target, std::span<const std::uint8_t> input,
                      std::span<std::uint8_t> output, std::uint32_t waitMs,
                      std::optional<SimFaultKind> fault);
    Outcome pipeRead(Interface* target, std::span<const std::uint8_t> input,
                     std::span<std::uint8_t> output, std::uint32_t waitMs,
                     std::optional<SimFaultKind> fault);
    Outcome queryString(Interface* target, std::span<const std::uint8_t> input,
                        std::span<std::uint8_t> output);
    std::optional<SimFaultKind> takeFault(std::uint64_t transfer);
    void unplugFor(DeviceHandle device);
    // The host's slot on the bus model now: where it last was, or the clock's time if later.
    std::uint64_t hostSlot();
    // A transfer of `bytes` submitted at `submitted`: the host waits until it ends; returns the
    // whole milliseconds the clock moves on by.
    std::uint32_t busTime(std::size_t bytes, std::optional<std::uint64_t> submitted = {});
    // What a USB transfer ends with, and clock time to spend once the lock is released.
    struct UsbOutcome {
        UsbTransfer result;
        std::uint32_t sleepMs = 0;
    };
    UsbOutcome usbOut(DeviceHandle device, std::span<const std::uint8_t> data,
                      std::uint32_t waitMs);
    UsbOutcome usbIn(DeviceHandle device, std::span<std::uint8_t> buffer, std::uint32_t waitMs);
    // Serves one bulk IN transfer into `buffer` as the phone answers now; a hang or a phone with
    // nothing to say leaves it outstanding (timedOut after the wait).
    UsbOutcome serveIn(DeviceHandle device, QueuedIn& transfer, std::span<std::uint8_t> buffer,
                       std::uint32_t waitMs);
    bool submitQueued(InQueue& queue, std::uint32_t size);
    UsbOutcome reapQueued(InQueue& queue, std::uint32_t waitMs);
    void closeQueue(InQueue& queue);
    // The removal watch of both roads: blocks until the last attached interface that `watches`
    // picks is detached (true), or returns false at once when none is attached.
    bool waitUntilDetached(const std::function<bool(const Interface&)>& watches);
    Interface* findById(SimInterfaceId id) const;
    // The attached interface a handle names on `road`, or null.
    Interface* attachedTarget(DeviceHandle device, Road road = Road::driver) const;
    Interface* setMember(DeviceSet set, const InterfaceRef& member);
    void detachLocked(Interface& iface);

    Clock& clock_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    SimTrace trace_;

    std::vector<std::shared_ptr<Interface>> interfaces_;  // every interface ever attached
    std::map<std::uintptr_t, std::shared_ptr<Interface>> handles_;
    std::map<std::uintptr_t, std::vector<std::shared_ptr<Interface>>> sets_;
    SimInterfaceId nextId_ = 1;
    std::uintptr_t nextHandle_ = 0x100;
    std::uintptr_t nextSet_ = 0x5E70000;
    bool openSetFails_ = false;
    unsigned watchers_ = 0;
    SimEnumerationCounters counters_;

    std::vector<SimFault> faults_;
    std::vector<std::uint32_t> stuckBlocks_;
    std::uint64_t transfers_ = 0;

    std::vector<InQueue*> queues_;  // the live queues of bulk IN transfers
    SimUsbQueueCounters queueCounters_;

    bool fullSpeed_ = false;
    FullSpeedBus bus_;
    std::uint64_t hostSlot_ = 0;
};

}  // namespace norvale
