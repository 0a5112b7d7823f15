// The simulated flash-mode driver: control requests, interface enumeration and removal watch.
#pragma once

#include <atomic>
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
#include "SimInEndpoint.h"
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

// A hung request's time passes on the clock in sleeps of this length, each followed by a look
// for a cancel: short enough that a cancel ends it at once for a person, long enough that a
// virtual clock does not step through a minute's wait in too many sleeps.
inline constexpr std::uint32_t kSimWaitSliceMs = 20;

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
    // The device sends a zero-length packet after a reply of whole packets (see SimInEndpoint).
    bool zeroLengthAfterWhole = false;
    std::uint32_t sizeQueryError = 0;  // non-zero: the detail size query fails with this error
    bool failDetailFetch = false;
    bool failOpen = false;     // as when another program holds it without sharing
    bool denyOpen = false;     // as when the device node's permissions shut this user out
    std::string serialNumber;  // the USB serial number; empty: the device has none
    std::string location;      // the driver road's socket of the device; empty: it names none
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
//   W, R and Q lines (an R line names the bulk IN request's size and shows what the transfer
//   took, FAIL when it did not complete). A bulk IN transfer follows the bus's packet rules
//   (SimInEndpoint): it ends only at a full buffer or a short packet, what it does not take of a
//   reply stays for the next transfer, and a packet larger than the room left is an overflow.
//   One the phone has nothing more for waits out its wait time with what it took, as a device
//   that keeps answering NAK does; a nodata fault on it ends it with a zero-length packet.
// - Queued bulk IN transfers are served in order when the host reaps them, each as bulkIn()
//   would serve it then: one trace line and one fault number per transfer served, so a read
//   streams the same trace as one transfer at a time. One still outstanding when its queue goes
//   never reached the phone: no trace line, no number. A hang leaves its transfer outstanding.
// - A request or transfer that waits out its time (a hang) lets that time pass on the clock, and
//   cancel() of its handle from another thread ends it within a slice of that time.
// - The driver enumerates only driver interfaces and the USB port lists only USB devices, each in
//   attach order; each open() gives a fresh handle, good on its own road only.
// - detach() (or the phone restarting with 'S' 'A', or an unplug fault) makes later requests on
//   the interface's handles fail, takes it out of the enumeration and wakes the removal watch on
//   its key.
// - Several phones: each phone (a SimPhone, numbered K from 1 in the order it was first attached
//   or added) has a lock of its own that its transfers take, its own count of pipe transfers
//   and faults that count it, and a trace of its own besides the driver's. A transfer holds its
//   phone's lock and the driver's lock only briefly (never across a wait), so one phone's hung
//   or slow transfer delays no other phone. Faults added without a phone count the transfers of
//   the whole run, as with one phone.
// - A phone may be set to attach later (attachAt: at a clock time) or to come back after 'S'
//   'A' (returnAfterStart); such an arrival is made when the driver is next asked for its
//   phones (openSet(), listPhones()) at or after its time, as a real arrival is seen at the
//   next scan.
// - Every call may come from any thread. The removal watch blocks without holding a lock.
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

    // The simulator of norvale-sim.exe and norvale-cli --sim: on the road that NORVALE_SIM_ROAD
    // names (driver, the default, or usb), one default phone, or NORVALE_SIM_PHONES=N phones at
    // locations sim-1 to sim-N (the USB location; on the driver road a device path holding it),
    // phone K with erasedFlashMaskOf(K); NORVALE_SIM_ARRIVE=K@MS,... attaches phone K MS ms
    // after this call instead of at once; NORVALE_SIM_RETURN=MS (returnAfterStart);
    // NORVALE_SIM_ZLP=1: the USB road's phones send a zero-length packet after a reply of whole
    // packets (zeroLengthAfterWhole); faults and trace files from the environment; no in-memory
    // trace.
    static std::unique_ptr<SimDriver> fromEnvironment(Clock& clock);
    // Applies NORVALE_SIM_FAULTS (bad items are skipped with a note on stderr; with several
    // phones an item without "K:" is phone 1's) and NORVALE_SIM_TRACE (the trace file, whose
    // first line then names `road`; with several phones one file per phone, NAME-K.EXT for
    // NAME.EXT, each in the same format). `phones`: how many phones the environment attaches.
    void applyEnvironment(Road road = Road::driver, unsigned phones = 1);
    // NORVALE_SIM_ROAD; an unknown value is noted on stderr and gives the driver road.
    static Road roadFromEnvironment();

    // A new phone unless `phone` is given (attaching the same phone again keeps its flash).
    SimInterfaceId attach(SimInterfaceOptions options = {},
                          std::shared_ptr<SimPhone> phone = nullptr);
    // Numbers `phone` without attaching it (it may be attached later); returns its number K, the
    // one it already has if it has one.
    unsigned addPhone(std::shared_ptr<SimPhone> phone);
    // The number of the phone behind an interface (0 for an unknown interface).
    unsigned phoneNumber(SimInterfaceId id) const;
    // Attaches `phone` (numbered if new) at clock time `dueMs`, at the first scan from then on.
    void attachAt(std::uint64_t dueMs, SimInterfaceOptions options,
                  std::shared_ptr<SimPhone> phone = nullptr);
    // From now on a phone that leaves after 'S' 'A' attaches again `ms` later (at the first scan
    // from then on) on the same location, as a phone that has just booted into flash mode: a new
    // interface, its flash kept, its RAM and loader state fresh.
    void returnAfterStart(std::uint32_t ms);
    // The interfaces attached so far, the detached ones too, in attach order.
    std::vector<SimInterfaceId> interfaceIds() const;
    bool detach(SimInterfaceId id);
    void detachAll();
    bool attached(SimInterfaceId id) const;
    std::shared_ptr<SimPhone> phone(SimInterfaceId id) const;
    // Runs `inspect` on the phone under its lock, for tests that look at a phone while other
    // threads talk to it.
    template <class Inspect>
    auto withPhone(SimInterfaceId id, Inspect&& inspect) const {
        std::shared_ptr<Unit> unit;
        {
            std::lock_guard lock(mutex_);
            unit = findById(id)->unit;
        }
        std::lock_guard lock(unit->mutex);
        return inspect(static_cast<const SimPhone&>(*unit->phone));
    }
    std::string devicePathOf(SimInterfaceId id) const;
    std::string registryKeyOf(SimInterfaceId id) const;
    // The key under HKEY_LOCAL_MACHINE where the system keeps the interface with this path.
    static std::string registryKeyFor(const std::string& devicePath);
    // open() calls that named this interface, failed ones included.
    unsigned openAttempts(SimInterfaceId id) const;

    void setOpenSetFails(bool fails);
    void addFault(SimFaultKind kind, std::uint64_t transfer);
    // A fault that counts the transfers of phone `phoneNumber` alone (from its first, 1).
    void addFault(unsigned phoneNumber, SimFaultKind kind, std::uint64_t transfer);
    // The flash block holding `address` stays as it is when written, on every phone attached now
    // or later (SimPhone::stickBlock); clearFaults() does not undo it.
    void stickFlashBlock(std::uint32_t address);
    void clearFaults();
    std::uint64_t pipeTransfers() const;
    std::uint64_t pipeTransfersOf(unsigned phoneNumber) const;

    // The benchmark's timing: with the model on, every pipe transfer and bulk transfer takes its
    // time on a full-speed bus (see FullSpeedBus) and the host waits for it on the virtual
    // clock; the host's own work takes no model time. Off (the default), transfers take none.
    void modelFullSpeed(bool on);
    // Every pipe transfer and bulk transfer that completes takes `ms` more on the clock, as a
    // phone behind a slow or busy hub: a station's rows then show their bytes moving for seconds,
    // long enough for an operator (or a test driving the window) to press Stop mid-read.
    void paceTransfers(std::uint32_t ms);
    // The host's time on the model in milliseconds, fractions kept.
    double modelledMs() const;
    SimUsbQueueCounters queueCounters() const;

    // The driver's trace holds every phone's lines (and those of requests that name no phone).
    bool traceToFile(const std::string& path) { return trace_.appendToFile(path); }
    // Memory keeping for the driver's trace and every phone's, now and later.
    void keepTrace(bool keep);
    std::vector<std::string> trace() const { return trace_.lines(); }
    void clearTrace() { trace_.clear(); }
    // A phone's own trace: its lines alone, in the same format.
    bool traceToFile(unsigned phoneNumber, const std::string& path, Road road);
    std::vector<std::string> traceOf(unsigned phoneNumber) const;

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
    std::string location(DeviceSet set, const InterfaceRef& member) override;
    void closeSet(DeviceSet set) override;
    DeviceHandle open(const std::string& devicePath) override;
    void close(DeviceHandle device) override;

    bool waitForChange(const std::string& keyPath, StopToken stop) override;

    std::vector<std::string> listPhones() override;
    // Each attachment of a simulated device (a phone that comes back is another) is named by
    // its interface's id; a wait for a change of the bus counts as a watcher and ends at a
    // removal.
    UsbBusLook lookAtBus() override;
    bool waitForBusChange(StopToken stop, std::uint32_t waitMs) override;
    std::string serialNumber(const std::string& location) override;
    UsbOpenFailure openFailure(const std::string& location) override;
    std::uint32_t maxPacketSize(DeviceHandle device) override;
    UsbTransfer bulkOut(DeviceHandle device, std::span<const std::uint8_t> data,
                        std::uint32_t waitMs) override;
    UsbTransfer bulkIn(DeviceHandle device, std::span<std::uint8_t> buffer,
                       std::uint32_t waitMs) override;
    UsbTransfer stringDescriptor(DeviceHandle device, UsbString which,
                                 std::span<std::uint8_t> buffer) override;
    std::unique_ptr<UsbInQueue> openInQueue(DeviceHandle device) override;
    UsbStatus resetPipe(DeviceHandle device, bool in) override;
    // Both roads' cancel: ends the transfers outstanding in the device's queues, and a request or
    // transfer of the device waiting out its time (a hang, a phone with nothing to say) at once,
    // as cancelling one on a real bus or driver does: a driver request then returns not
    // completed, a USB transfer `failed`.
    void cancel(DeviceHandle device) override;
    bool waitForRemoval(const std::string& location, StopToken stop) override;

private:
    class InQueue;
    struct QueuedIn {
        std::uint32_t size = 0;
        std::uint64_t submittedSlot = 0;  // on the bus model
        Bytes buffer;                     // a queued transfer's own; under the unit's lock
        std::size_t filled = 0;           // bytes the transfer has taken so far
        bool numbered = false;            // served once: its number and fault are taken
        bool hung = false;
        bool cancelled = false;
    };
    // One phone and what is its own. `mutex` is taken by the phone's transfers and held while
    // the phone works, never across a wait; the driver's lock may be taken inside it, never the
    // other way round.
    struct Unit {
        unsigned number = 0;
        std::shared_ptr<SimPhone> phone;  // the pointer never changes
        std::mutex mutex;
        std::vector<SimFault> faults;            // under mutex
        std::uint64_t transfers = 0;             // under mutex
        FullSpeedBus bus;                        // under mutex
        std::atomic<std::uint64_t> hostSlot{0};  // written under mutex
        SimTrace trace;
    };
    struct Interface {
        SimInterfaceId id = 0;
        SimInterfaceOptions options;
        std::string registryKey;
        std::shared_ptr<SimPhone> phone;
        std::shared_ptr<Unit> unit;
        // A USB device's bulk IN endpoint, under the unit's lock: a device attached again
        // starts with nothing queued.
        SimInEndpoint in;
        bool attached = true;
        unsigned openAttempts = 0;
    };
    struct PendingArrival {
        std::uint64_t dueMs = 0;
        SimInterfaceOptions options;
        std::shared_ptr<Unit> unit;
    };
    // What a request ends with: its result, and clock time to spend once the lock is released.
    // `waiting`: the time is a wait for a transfer the phone never ends (a hang), which
    // cancel() cuts short; otherwise it is bus time.
    struct Outcome {
        ControlResult result;
        std::uint32_t sleepMs = 0;
        bool waiting = false;
    };

    Outcome pipeWrite(Unit* unit, Interface* target, std::span<const std::uint8_t> input,
                      std::span<std::uint8_t> output, std::uint32_t waitMs,
                      std::optional<SimFaultKind> fault);
    Outcome pipeRead(Unit* unit, Interface* target, std::span<const std::uint8_t> input,
                     std::span<std::uint8_t> output, std::uint32_t waitMs,
                     std::optional<SimFaultKind> fault);
    Outcome queryString(Unit* unit, Interface* target, std::span<const std::uint8_t> input,
                        std::span<std::uint8_t> output);
    // The phone a handle was opened on (whether or not it is still attached), or null.
    std::shared_ptr<Unit> unitOf(DeviceHandle device) const;
    // Under the unit's lock (if any): numbers a pipe transfer, run-wide and for its phone, and
    // carries out an unplug that falls on it; returns the fault that falls on it.
    std::optional<SimFaultKind> numberTransfer(Unit* unit, DeviceHandle device);
    void unplugFor(DeviceHandle device);
    // Under the unit's lock: the phone took a write; it may have left flash mode.
    void phoneWrote(Interface& target, SimPhone::WriteEffect effect);
    void traceLine(Unit* unit, const std::string& line);
    bool tracing(const Unit* unit) const;
    std::string withHex(const Unit* unit, std::string line,
                        std::span<const std::uint8_t> bytes) const;
    // The host's slot on the phone's bus model now: where it last was, or the clock's time if
    // later. Under the unit's lock.
    std::uint64_t hostSlot(Unit* unit);
    // A transfer of `bytes` submitted at `submitted`: the host waits until it ends; returns the
    // whole milliseconds the clock moves on by, the pace included. Under the unit's lock.
    std::uint32_t busTime(Unit* unit, std::size_t bytes,
                          std::optional<std::uint64_t> submitted = {});
    // What a USB transfer ends with, and clock time to spend once the lock is released.
    struct UsbOutcome {
        UsbTransfer result;
        std::uint32_t sleepMs = 0;
        bool waiting = false;  // as Outcome's
    };
    // Runs one USB transfer with its phone locked, then lets the transfer's bus time pass.
    UsbTransfer underPhoneLock(DeviceHandle device,
                               const std::function<UsbOutcome(Unit*)>& transfer);
    UsbOutcome usbOut(Unit* unit, DeviceHandle device, std::span<const std::uint8_t> data,
                      std::uint32_t waitMs);
    UsbOutcome usbIn(Unit* unit, DeviceHandle device, std::span<std::uint8_t> buffer,
                     std::uint32_t waitMs);
    // Serves one bulk IN transfer into `buffer` as the phone answers now; a hang or a phone with
    // nothing to say leaves it outstanding (timedOut after the wait).
    UsbOutcome serveIn(Unit* unit, DeviceHandle device, QueuedIn& transfer,
                       std::span<std::uint8_t> buffer, std::uint32_t waitMs);
    bool submitQueued(InQueue& queue, std::uint32_t size);
    UsbOutcome reapQueued(InQueue& queue, std::uint32_t waitMs);
    void closeQueue(InQueue& queue);
    // How many times cancel() has named the device: a transfer takes the count when it starts
    // and is cancelled once it changes.
    std::uint64_t cancelsOf(DeviceHandle device) const;
    // Lets a waiting transfer's time pass on the clock in slices, looking between them for a
    // cancel() of its device since `cancels`; false when one came (the rest of the time does not
    // pass), true when the whole time passed.
    bool waitUnlessCancelled(DeviceHandle device, std::uint64_t cancels, std::uint32_t ms);
    // The removal watch of both roads: blocks until the last attached interface that `watches`
    // picks is detached (true), or returns false at once when none is attached, or when `stop`
    // is requested before or during the wait.
    bool waitUntilDetached(const std::function<bool(const Interface&)>& watches,
                           const StopToken& stop);
    Interface* findById(SimInterfaceId id) const;
    // The attached interface a handle names on `road`, or null. The first form takes the lock.
    Interface* attachedNow(DeviceHandle device, Road road = Road::driver) const;
    Interface* attachedTarget(DeviceHandle device, Road road = Road::driver) const;
    // The unit of `phone`, made and numbered if it has none. Under the lock.
    std::shared_ptr<Unit> unitForLocked(std::shared_ptr<SimPhone> phone);
    Unit* unitNumbered(unsigned number) const;
    SimInterfaceId attachLocked(SimInterfaceOptions options, std::shared_ptr<Unit> unit);
    // Makes the pending arrivals that are due. Under the lock.
    void attachDueLocked();
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
    std::uint64_t removals_ = 0;  // devices detached so far
    SimEnumerationCounters counters_;

    std::vector<std::shared_ptr<Unit>> units_;  // phone K at K - 1
    std::vector<PendingArrival> pending_;
    std::optional<std::uint32_t> returnMs_;
    bool keepTraces_ = true;

    std::vector<SimFault> faults_;  // those that count the whole run
    std::vector<std::uint32_t> stuckBlocks_;
    std::uint64_t transfers_ = 0;

    std::vector<InQueue*> queues_;                     // the live queues of bulk IN transfers
    std::map<std::uintptr_t, std::uint64_t> cancels_;  // cancel() calls by handle
    SimUsbQueueCounters queueCounters_;

    std::atomic<bool> fullSpeed_{false};
    std::atomic<std::uint32_t> paceMs_{0};
};

}  // namespace norvale
