// Seam: a flash-mode phone on the USB bus, reached over its bulk endpoints without the maker's
// driver.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/DeviceHandle.h"
#include "platform/StopSignal.h"

namespace norvale {

// A phone in flash mode enumerates with these ids, whatever its strings say.
inline constexpr std::uint16_t kFlashModeVendorId = 0x22B8;
inline constexpr std::uint16_t kFlashModeProductId = 0x4903;

enum class UsbStatus {
    done,      // the transfer completed; `transferred` bytes moved
    timedOut,  // still outstanding at its wait time: cancelled before the call returned
    gone,      // the device is no longer attached (or the handle is unknown)
    stalled,   // the endpoint answered with a stall
    overflow,  // a packet came that was larger than the room left in the buffer
    failed,    // any other failure, a transfer cancelled by cancel() included
};

struct UsbTransfer {
    UsbStatus status = UsbStatus::failed;
    std::uint32_t transferred = 0;  // bytes moved; may be non-zero also when status is not done
};

enum class UsbString { manufacturer, product };

// Why open() gives no device at a location.
enum class UsbOpenFailure {
    none,          // it opens
    gone,          // no phone is attached there
    noPermission,  // the system denies this user access to the device (its node's permissions)
    inUse,         // another program holds it (it has claimed the interface, or opened it)
    failed,        // anything else: its descriptors don't fit, the bus can't be read...
};

// A phone as one look at the bus found it.
struct UsbAttached {
    std::string location;  // the socket, as listPhones() gives it
    // Names this attachment of a device: a phone plugged into the same socket again, or another
    // phone put there, gets another. The same text while the device stays attached.
    std::string attachment;
    friend bool operator==(const UsbAttached&, const UsbAttached&) = default;
};

// One look at the bus: `read` is false when the bus could not be read at all, which says
// nothing about the phones on it (not the same as a look that found none).
struct UsbBusLook {
    bool read = false;
    std::vector<UsbAttached> phones;
};

// How a queued bulk IN transfer ended, and its bytes.
struct UsbReaped {
    UsbTransfer transfer;
    // The `transferred` bytes, in the queue's own buffer: readable until the next call on the
    // queue or its end.
    std::span<const std::uint8_t> data;
};

// Bulk IN transfers kept in flight on one open device, so the bus never waits for the host
// between them. Owned through the unique_ptr that UsbPort::openInQueue() returns.
// Contract:
// - submit(): starts one more bulk IN transfer of `size` bytes (a whole number of max-size
//   packets, and no more than the device owes: see bulkIn()) into a buffer of the queue's own,
//   behind those already outstanding. false, with
//   nothing started, when the system refuses it at once (a device known to have gone, the
//   handle closed); a transfer that was started on a device that has gone ends with `gone`. A
//   transfer has no time limit of its own: reap() bounds the waiting.
// - reap(): waits at most `waitMs` (never 0) for the oldest outstanding transfer to end and
//   returns how it ended; it then no longer counts as outstanding. The transfers end in the order
//   they were started, each as bulkIn() would have ended it. timedOut: it has not ended, and
//   stays outstanding for the next reap(). failed at once when none is outstanding.
// - A device that goes ends the outstanding transfers with `gone`; UsbPort::cancel(), from any
//   thread, ends them with `failed`. Data that a transfer received before is still delivered.
// - Destroying the queue cancels every outstanding transfer and awaits the cancellation, so no
//   transfer outlives it and none is left to take data meant for a later transfer. The queue
//   goes before its device's handle is closed. One thread uses a queue at a time.
class UsbInQueue {
public:
    virtual ~UsbInQueue() = default;
    virtual bool submit(std::uint32_t size) = 0;
    virtual UsbReaped reap(std::uint32_t waitMs) = 0;
};

// Contract:
// - listPhones(): the locations of the attached 22B8:4903 devices, in the order the system lists
//   them; empty when there are none or the bus can't be read. A location names the socket, not
//   the phone ("bus-port.port" on Linux, "hub<N>-port<M>" on Windows): it stays the same while
//   the device stays attached, and a phone plugged into the same socket later gets it again. It
//   lists what is attached at the call, also where the system sends no hotplug events.
// - lookAtBus(): what listPhones() lists, each phone with its attachment, and whether the bus
//   could be read at all. A binding that can't tell an attachment from the next at the same
//   socket names it by its location.
// - waitForBusChange(): blocks until the system tells of a device arriving or leaving, at most
//   `waitMs`, or a stop is requested on `stop`; it tells whether it was woken by such a notice.
//   A binding without notices (or whose notices may never come) just waits: the caller looks
//   at the bus after it either way.
// - serialNumber(): the USB serial number (iSerialNumber) of the device at `location` as text,
//   upper-cased (as Windows keeps it in the instance id, so it reads the same everywhere), empty
//   when it has none, is not attached there, or the number can't be read.
// - openFailure(): why open() at `location` gives no device now: it tries the open the same way
//   and gives back whatever it opened; `none` when that open succeeds.
// - open(): opens the device at `location` as a look at the bus made for the open finds it (never
//   one an earlier look found there, which may have left and its numbers gone to another
//   device), checks after opening that the device it holds is still the one at that socket
//   (and has the serial the bus listed it with, where it has one), takes it from any kernel driver,
//   claims its one interface and finds its bulk OUT and bulk IN endpoints and the IN endpoint's max
//   packet size in the descriptors. kInvalidDevice on any failure, with nothing left held. A valid
//   handle is given back to close() exactly once.
// - maxPacketSize(): the bulk IN endpoint's max packet size for an open handle, 0 otherwise.
// - bulkOut(): one bulk OUT transfer of exactly `data`: no zero-length packet is added.
// - bulkIn(): one bulk IN transfer into `buffer`. As the bus has it, the transfer ends only with
//   a short packet (a zero-length one included) or a full buffer: a reply that fills whole
//   packets does not end a larger transfer, which then waits for the device's next packets (the
//   next reply joins it) or until its time runs out. What the transfer does not take stays with
//   the device for the next one. So the caller asks for no more than the device owes in its
//   current reply, in whole max-size packets (a packet larger than the room left ends the
//   transfer with overflow). A device may send a zero-length packet after a reply of whole
//   packets; a transfer that was exactly full leaves it for the next one, which then ends with
//   no data.
// - For both: the call returns when the transfer has ended or `waitMs` has passed (never 0: the
//   caller always sets a limit). A transfer still outstanding then is cancelled and its
//   cancellation awaited before the call returns, so nothing writes into `buffer` afterwards.
//   Once the device has gone, every transfer ends at once with `gone`.
// - stringDescriptor(): the device's raw string descriptor (bLength, type 3, UTF-16LE units) in
//   its first language, cut to `buffer`; `transferred` is its length. Waits at most 5000 ms.
// - openInQueue(): a queue of bulk IN transfers on an open device (see UsbInQueue); null when
//   the handle is not an open device of this port.
// - resetPipe(): clears the halt of the device's bulk IN (`in`) or OUT endpoint and resets its data
//   toggle on both sides (a CLEAR_FEATURE(ENDPOINT_HALT) request): after a failed data transfer
//   the pipe takes no more until then. done when the device took it, gone when it has left,
//   failed otherwise. Waits at most 5000 ms.
// - cancel(): may be called from any thread; every transfer outstanding on the device at that
//   moment, queued ones included, ends at once with `failed` (a blocked bulkIn() or bulkOut()
//   returns). A transfer started after the call is not affected. Harmless when there is none.
// - waitForRemoval(): blocks until the device at `location` is no longer attached and returns
//   true, noticing the removal within 1 s; returns false at once when it is not attached now.
//   A stop requested on `stop` (before the call, or from any thread during the wait) ends it at
//   once with false, so its owner can join the waiting thread; a default StopToken never
//   stops.
// - Calls on different threads share no transfer state; each transfer's buffer is the caller's.
class UsbPort : public virtual DeviceCloser {
public:
    virtual std::vector<std::string> listPhones() = 0;
    virtual UsbBusLook lookAtBus() {
        UsbBusLook look{true, {}};
        for (std::string& location : listPhones()) look.phones.push_back({location, location});
        return look;
    }
    virtual bool waitForBusChange(StopToken stop, std::uint32_t waitMs);
    virtual DeviceHandle open(const std::string& location) = 0;
    virtual std::string serialNumber(const std::string& location) = 0;
    virtual UsbOpenFailure openFailure(const std::string& location) = 0;
    void close(DeviceHandle device) override = 0;
    virtual std::uint32_t maxPacketSize(DeviceHandle device) = 0;
    virtual UsbTransfer bulkOut(DeviceHandle device, std::span<const std::uint8_t> data,
                                std::uint32_t waitMs) = 0;
    virtual UsbTransfer bulkIn(DeviceHandle device, std::span<std::uint8_t> buffer,
                               std::uint32_t waitMs) = 0;
    virtual std::unique_ptr<UsbInQueue> openInQueue(DeviceHandle device) = 0;
    virtual UsbTransfer stringDescriptor(DeviceHandle device, UsbString which,
                                         std::span<std::uint8_t> buffer) = 0;
    virtual UsbStatus resetPipe(DeviceHandle device, bool in) = 0;
    virtual void cancel(DeviceHandle device) = 0;
    virtual bool waitForRemoval(const std::string& location, StopToken stop) = 0;
};

// Waits `waitMs` or until a stop: for a binding the system tells nothing.
inline bool UsbPort::waitForBusChange(StopToken stop, std::uint32_t waitMs) {
    std::mutex mutex;
    std::condition_variable woken;
    const StopWake wake(stop, [&] {
        const std::lock_guard lock(mutex);
        woken.notify_all();
    });
    std::unique_lock lock(mutex);
    woken.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return stop.stopRequested(); });
    return false;
}

}  // namespace norvale
