// The USB seam on Linux: the phone's bulk endpoints through libusb-1.0 and usbfs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/UsbPort.h"
#include "platform/libusb/LibusbHandles.h"

namespace norvale {

// How waitForRemoval() learns that a device has gone.
enum class RemovalNotice {
    hotplug,  // libusb's hotplug events where libusb has them, else polling
    polling,  // the device list, read every kRemovalPollInterval
};

inline constexpr std::chrono::milliseconds kRemovalPollInterval{250};

// What starts libusb: libusb_init, or a stand-in that fails as it may (no usbfs yet at boot).
using LibusbInit = int (*)(libusb_context** context);

// Beyond the seam's contract:
// - libusb keeps a context's device list up to date by hotplug events alone, and a system
//   without udev (a container, WSL, a minimal system) sends none: a list read from a long-lived
//   context would never show a phone attached later, nor drop one pulled out, and its device
//   numbers may since have gone to another device (the kernel hands out 1 to 127 a bus, round
//   and round). So every look at the bus (lookAtBus(), serialNumber(), openFailure(), open(),
//   the removal wait's checks) reads the devices in a context made for that look.
// - open() finds the device in a look made for it, opens it through the port's context when
//   that context has the same device (bus, number and ports), else keeps the look's context for
//   it with an event thread of its own; after the claim a second look must still show that
//   device (its number) at the socket, or the open fails as `gone`. libusb's device list never
//   reads a device again, so nothing older than the open decides which device is opened.
// - An attachment is "bus:number": the kernel gives a device that arrives a new number.
// - The port's context is made at construction and, when libusb could not start then, again at
//   each later look until it starts; until then every look is unread and every open fails.
// - Each context that holds an open device has a thread that handles libusb's events: every
//   transfer is asynchronous, so cancel() can end it from another thread, and a transfer that
//   reaches its wait time is cancelled by libusb and given back before the call returns.
// - A location is "bus-port.port...", the device's path from its root hub.
// - open() claims the first interface that has a bulk OUT and a bulk IN endpoint, with any
//   kernel driver detached while it is claimed (and given back at close()). A claim refused as
//   busy (another program holds the interface) is `inUse`.
// - After a stall the endpoint's halt is cleared, so the next transfer finds it working; the
//   stalled transfer still reports `stalled`.
// - stringDescriptor() reads the language table, then the string in its first language; each
//   is one control transfer, together at most 5000 ms.
// - A queue of bulk IN transfers submits each with no time limit of its own (reap() bounds the
//   waiting) and takes them back in order; at its end it cancels the outstanding ones, newest
//   first so that none behind the one being cancelled can start taking data, awaits them, and
//   clears the endpoint's halt if one of them stalled.
// - An open device stays open until close() and every call still using it have let go of it.
// - A hotplug departure is matched to the device that left by its bus and number, never by its
//   socket: a phone put into the same socket since is not taken for gone. waitForBusChange()
//   returns at any hotplug arrival or departure of a 22B8:4903 device, one that came since the
//   last wait returned included, so a change made while its caller looked at the bus is not
//   missed.
// - waitForRemoval() returns at a hotplug departure of the device that was at `location` when it
//   began, and also looks at the bus every kRemovalPollInterval, since the departure may never
//   be told.
// - openFailure() is noPermission when usbfs refuses to open the device node (LIBUSB_ERROR_ACCESS):
//   the udev rule is missing, the phone arrived before it was installed, or the user is not at
//   the seat the rule serves.
// - The port outlives everything that uses it; its destructor wakes waitForRemoval() callers
//   (they return false) and waits until they have left.
class LibusbPort final : public UsbPort {
public:
    explicit LibusbPort(RemovalNotice notice = RemovalNotice::hotplug,
                        LibusbInit init = &libusb_init);
    LibusbPort(const LibusbPort&) = delete;
    LibusbPort& operator=(const LibusbPort&) = delete;
    ~LibusbPort() override;

    // Whether libusb has started (trying again when it could not before).
    bool available() { return context() != nullptr; }
    // Whether removals are learnt from hotplug events (else by polling).
    bool hotplug() {
        context();
        const std::lock_guard lock(startMutex_);
        return hotplug_.registered();
    }

    // Hotplug departures told so far, of any 22B8:4903 device: one who must know that such an
    // event has been handled waits for this to grow (waitForBusChange() wakes at each).
    std::uint64_t hotplugDepartures();

    std::vector<std::string> listPhones() override;
    UsbBusLook lookAtBus() override;
    bool waitForBusChange(StopToken stop, std::uint32_t waitMs) override;
    std::string serialNumber(const std::string& location) override;
    UsbOpenFailure openFailure(const std::string& location) override;
    DeviceHandle open(const std::string& location) override;
    void close(DeviceHandle device) override;
    std::uint32_t maxPacketSize(DeviceHandle device) override;
    UsbTransfer bulkOut(DeviceHandle device, std::span<const std::uint8_t> data,
                        std::uint32_t waitMs) override;
    UsbTransfer bulkIn(DeviceHandle device, std::span<std::uint8_t> buffer,
                       std::uint32_t waitMs) override;
    std::unique_ptr<UsbInQueue> openInQueue(DeviceHandle device) override;
    UsbTransfer stringDescriptor(DeviceHandle device, UsbString which,
                                 std::span<std::uint8_t> buffer) override;
    UsbStatus resetPipe(DeviceHandle device, bool in) override;
    void cancel(DeviceHandle device) override;
    bool waitForRemoval(const std::string& location, StopToken stop) override;

private:
    struct OpenPhone;
    class InQueue;

    struct Opened;

    libusb_context* context();
    Opened tryOpen(const std::string& location);
    std::shared_ptr<OpenPhone> find(DeviceHandle device) const;
    // The attachment at `location` now: empty when none is there or the bus can't be read
    // (`read` then false).
    std::string attachmentAt(const std::string& location, bool* read = nullptr);
    UsbTransfer bulk(DeviceHandle device, std::uint8_t* data, std::size_t size, bool in,
                     std::uint32_t waitMs);
    UsbTransfer stringRequest(OpenPhone& phone, std::uint8_t index, std::uint16_t language,
                              std::span<std::uint8_t> setupAndData, std::uint32_t waitMs);
    static UsbTransfer run(OpenPhone& phone, libusb_transfer* transfer);
    static int onHotplug(libusb_context* context, libusb_device* device, libusb_hotplug_event event,
                         void* port);
    void noteDeparture(const std::string& attachment);

    const RemovalNotice notice_;
    const LibusbInit init_;
    // Guards the start of the port's context: made once, at construction or at a later look.
    std::mutex startMutex_;
    // Declared in the order they are needed: the event thread goes first, so no callback runs
    // while the rest is taken down.
    UniqueLibusbContext context_;
    HotplugRegistration hotplug_;

    mutable std::mutex devicesMutex_;
    std::map<std::uintptr_t, std::shared_ptr<OpenPhone>> devices_;
    std::uintptr_t nextHandle_ = 1;

    std::mutex removalMutex_;
    std::condition_variable removalChanged_;
    std::map<std::string, std::uint64_t> departures_;  // hotplug departures seen, per attachment
    std::uint64_t busEvents_ = 0;                      // hotplug arrivals and departures seen
    std::uint64_t busEventsTold_ = 0;                  // of those, told by waitForBusChange()
    unsigned waiters_ = 0;
    bool closing_ = false;

    LibusbEventThread events_;
};

}  // namespace norvale
