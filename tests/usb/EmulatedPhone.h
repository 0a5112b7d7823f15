// A flash-mode phone on an emulated USB bus: umockdev's sysfs and usbfs node, served by SimPhone.
#pragma once

#include <umockdev.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/SimInEndpoint.h"
#include "sim/SimPhone.h"

namespace norvale::usb_testing {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T>
using GOwned = std::unique_ptr<T, GObjectUnref>;

// Whether umockdev's preload library stands between this process and the system's devices, as
// umockdev-wrapper puts it (umockdev_in_mock_environment() does not say so in umockdev 0.17).
inline bool underUmockdevWrapper() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::string_view(preload).find("umockdev-preload") != std::string_view::npos;
}

// What the bus does at a numbered bulk URB (OUT and IN counted together from 1).
enum class UrbFault {
    unplug,  // the URB stays in flight, then the phone is pulled out: it fails with ENODEV
    stall,   // the endpoint halts: this URB and later ones on it fail with EPIPE until cleared
    hang,    // the phone never answers: the URB stays in flight until the host discards it
};

// The testbed holds a root hub, a hub on its port 1 and the phone on that hub's port 3, so the
// phone's location is "1-1.3". More phones join the first one's testbed on other ports of the
// hub, each served by its own handler and SimPhone, so each has its own URBs, faults and flash. Its
// one interface has a bulk OUT endpoint 0x02 and a bulk IN endpoint 0x83 (64-byte packets): a
// binding that assumed 0x01/0x81 finds nothing to talk to.
//
// The ioctl handler serves usbfs as the kernel does for one device: URBs are submitted and later
// reaped, a discarded URB is reaped with ENOENT, and once the phone is pulled out every URB in
// flight fails with ENODEV, later submissions fail with ENODEV and a "remove" uevent goes out.
// OUT data goes to the SimPhone. IN URBs are served one after another in the order they were
// submitted, as the host controller works through an endpoint's queue, by the bus's packet rules
// (SimInEndpoint): the first takes the phone's replies as 64-byte packets and completes only when
// full or at a short packet; what it does not take stays queued for the next URB, and a packet
// larger than the room left completes it with -EOVERFLOW. It stays in flight while the phone has
// nothing more to say (a device answering NAK) or its fault holds it, and those behind it wait.
// The phone restarting ('S' then 'A') pulls it out too. Construct it before the libusb context,
// which reads the testbed at its start.
class EmulatedPhone {
public:
    static constexpr const char* kLocation = "1-1.3";
    static constexpr std::uint8_t kOutEndpoint = 0x02;
    static constexpr std::uint8_t kInEndpoint = 0x83;
    static constexpr std::uint32_t kMaxPacket = 64;
    static constexpr const char* kManufacturer = "Motorola Inc.";
    static constexpr const char* kProduct = "Motorola Flash Interface";

    EmulatedPhone();
    // Another phone on the hub's port `port` (4 to 7, or the port of one that vanished) of
    // `first`'s testbed, whose unwritten flash is XORed with `flashMask`
    // (SimPhoneOptions::erasedFlashMask), with the device number `number` (its port when 0): the
    // kernel hands out 1 to 127 a bus and round again, so a number a phone that left had may go
    // to another. Destroy it before `first`.
    EmulatedPhone(EmulatedPhone& first, unsigned port, std::uint8_t flashMask, unsigned number = 0);
    EmulatedPhone(const EmulatedPhone&) = delete;
    EmulatedPhone& operator=(const EmulatedPhone&) = delete;
    ~EmulatedPhone();

    // "1-1.<port>": kLocation for the first phone.
    const std::string& location() const { return location_; }

    // The phone sends a zero-length packet after a reply of whole packets (off at first).
    void sendZeroLengthAfterWhole(bool on);
    void addFault(UrbFault fault, std::uint64_t urb);
    // Pulls the phone out now (from a test thread, never the handler's).
    void unplug();
    // Pulls it out as a system without udev sees it: gone from sysfs and its node from /dev, and
    // no uevent at all.
    void vanish();
    // Tells udev's listeners that the phone arrived (its "add" uevent). A phone the testbed holds
    // without it is one no event announced: only a fresh look at the bus finds it.
    void announce();
    // The "remove" uevent of the phone vanish() pulled out, told late: by now another phone may
    // sit in its socket. The kernel's event names the device that left: the socket's DEVPATH and
    // this phone's DEVNAME, from which libusb takes the departed device's bus and number. umockdev
    // builds an event from the record at the path when it is sent, so the socket's record names
    // this phone's node for that moment.
    void sendLateRemove();
    // Another program has claimed the interface (or not): usbfs refuses a claim with EBUSY.
    void heldElsewhere(bool held);
    // The node's mode bits as usbfs gives them without the udev rule's grant: nobody may open it
    // (or, again, anybody). While refused, the calling thread is held to them even as root, its
    // file-permission override set aside, so the open fails with EACCES as a plain user's does.
    void refuseOpen(bool refused);

    // Bulk URBs submitted so far.
    std::uint64_t bulkUrbs() const;
    // URBs submitted and neither completed nor discarded yet.
    std::size_t urbsInFlight() const;
    // The data of every bulk OUT URB the phone took, as lowercase hex, in order.
    std::vector<std::string> writes() const;
    // The size of every bulk IN URB submitted, in order.
    std::vector<std::uint32_t> inUrbSizes() const;
    // Everything else the host asked of the device, in order: "detach-and-claim 0",
    // "claim 0", "release 0", "connect 0", "clear-halt 02", "discard", "zero-packet",
    // "unknown <request>", "endpoint <address>" (a URB for an endpoint the device lacks).
    std::vector<std::string> requests() const;
    // When the phone was pulled out, once it was.
    std::optional<std::chrono::steady_clock::time_point> unpluggedAt() const;
    // Waits (real time) until the phone is pulled out and its uevent has been sent.
    bool waitUntilUnplugged(std::chrono::milliseconds timeout) const;

    template <class Inspect>
    auto withPhone(Inspect&& inspect) const {
        const std::lock_guard lock(mutex_);
        return inspect(static_cast<const SimPhone&>(phone_));
    }

private:
    EmulatedPhone(EmulatedPhone* first, unsigned port, std::uint8_t flashMask, unsigned number);
    static gboolean onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
    bool handle(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void submitBulk(GOwned<UMockdevIoctlData> urb);
    void submitControl(GOwned<UMockdevIoctlData> urb);
    void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void finish(GOwned<UMockdevIoctlData> urb, int status, int length);
    void serveIn();
    void pullOut();
    void requestUnplug(std::chrono::milliseconds after);  // under the lock
    void runBus();

    GOwned<UMockdevTestbed> testbed_;  // shared with the phones on the same hub
    GOwned<UMockdevIoctlBase> handler_;
    std::string location_;
    std::string sysPath_;
    std::string node_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    SimPhone phone_;
    SimInEndpoint in_{kMaxPacket};
    std::vector<GOwned<UMockdevIoctlData>> flying_;  // OUT URBs a fault holds
    // IN URBs in flight, the one on the wire first; a fault is taken by number at submission and
    // strikes when the URB reaches the wire.
    struct InUrb {
        GOwned<UMockdevIoctlData> urb;
        std::optional<UrbFault> fault;
        bool held = false;  // hung, or in flight while the phone is pulled out
        Bytes taken;        // packets taken so far
    };
    std::deque<InUrb> inUrbs_;
    std::deque<GOwned<UMockdevIoctlData>> reapable_;
    std::set<std::uint8_t> halted_;
    std::map<std::uint64_t, UrbFault> faults_;
    std::uint64_t bulkUrbs_ = 0;
    std::vector<std::string> writes_;
    std::vector<std::uint32_t> inUrbSizes_;
    std::vector<std::string> requests_;
    bool removed_ = false;
    bool nodeGone_ = false;
    bool heldElsewhere_ = false;
    std::optional<std::chrono::steady_clock::time_point> unpluggedAt_;
    // The uevent goes out from the bus thread: the handler's thread only answers ioctls.
    std::optional<std::chrono::milliseconds> unplugRequested_;
    bool ueventSent_ = false;
    bool stopping_ = false;
    std::thread bus_;
};

}  // namespace norvale::usb_testing
