// The emulated phone's testbed and its usbfs ioctl handler.
#include "EmulatedPhone.h"

#include <linux/capability.h>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "sim/SimTrace.h"

namespace norvale::usb_testing {
namespace {

constexpr unsigned kFirstPort = 3;

// The usbfs URB types the device serves.
constexpr unsigned char kBulk = USBDEVFS_URB_TYPE_BULK;
constexpr unsigned char kControl = USBDEVFS_URB_TYPE_CONTROL;

std::string hexOf(const std::uint8_t* bytes, std::size_t size) {
    return SimTrace::hex(std::span(bytes, size));
}

std::string hexByte(unsigned value) {
    const std::uint8_t byte = static_cast<std::uint8_t>(value);
    return hexOf(&byte, 1);
}

using Descriptor = std::vector<std::uint8_t>;

// Descriptors one after another, in hex, as sysfs' "descriptors" attribute shows them: the
// device descriptor, then the configuration with its interfaces and endpoints.
std::string descriptorsHex(std::initializer_list<Descriptor> descriptors) {
    std::string hex;
    for (const Descriptor& descriptor : descriptors) {
        hex += hexOf(descriptor.data(), descriptor.size());
    }
    return hex;
}

// A hub: USB 2.0, hub class; one configuration (25 bytes in all) with the hub interface and its
// interrupt IN endpoint.
std::string hubDescriptors(std::uint8_t product) {
    return descriptorsHex({
        {0x12, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 0x40, 0x6b, 0x1d, product, 0x00, 0x00, 0x00,
         0x00, 0x00, 0x00, 0x01},
        {0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0xe0, 0x00},
        {0x09, 0x04, 0x00, 0x00, 0x01, 0x09, 0x00, 0x00, 0x00},
        {0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x0c},
    });
}

// The phone: USB 2.0 at full speed, 22B8:4903, manufacturer string 1 and product string 2; one
// configuration (32 bytes in all, bus-powered, 500 mA) with one vendor-class interface holding
// the bulk OUT and bulk IN endpoints, 64-byte packets.
std::string phoneDescriptors() {
    return descriptorsHex({
        {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0xb8, 0x22, 0x03, 0x49, 0x00, 0x01, 0x01,
         0x02, 0x00, 0x01},
        {0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80, 0xfa},
        {0x09, 0x04, 0x00, 0x00, 0x02, 0xff, 0xff, 0xff, 0x00},
        {0x07, 0x05, EmulatedPhone::kOutEndpoint, 0x02, 0x40, 0x00, 0x00},
        {0x07, 0x05, EmulatedPhone::kInEndpoint, 0x02, 0x40, 0x00, 0x00},
    });
}

// The sysfs record of the devices: the root hub of bus 1 and a hub on its port 1 (with the first
// phone), and the phone on that hub's port `port` (device number `number`), each with its usbfs
// node.
std::string testbedRecord(unsigned port, unsigned number, bool withHubs) {
    auto device = [](const std::string& path, int number, int speed,
                     const std::string& descriptors) {
        std::string devnum = std::to_string(number);
        devnum.insert(0, 3 - devnum.size(), '0');
        const std::string node = "bus/usb/001/" + devnum;
        return "P: " + path + "\nN: " + node +
               "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=001\nE: DEVNUM=" + devnum +
               "\nE: DEVNAME=/dev/" + node +
               "\nA: busnum=1\\n\nA: devnum=" + std::to_string(number) +
               "\\n\nA: speed=" + std::to_string(speed) +
               "\\n\nA: bConfigurationValue=1\\n\nH: descriptors=" + descriptors + "\n\n";
    };
    const std::string phone = device("/devices/usb1/1-1/1-1." + std::to_string(port),
                                     static_cast<int>(number), 12, phoneDescriptors());
    if (!withHubs) return phone;
    return device("/devices/usb1", 1, 480, hubDescriptors(0x02)) +
           device("/devices/usb1/1-1", 2, 480, hubDescriptors(0x01)) + phone;
}

// A string descriptor: bLength, type 3, UTF-16LE.
std::vector<std::uint8_t> stringDescriptor(const std::string& text) {
    std::vector<std::uint8_t> descriptor{static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (const char c : text) {
        descriptor.push_back(static_cast<std::uint8_t>(c));
        descriptor.push_back(0);
    }
    return descriptor;
}

usbdevfs_urb& urbOf(UMockdevIoctlData* data) {
    return *reinterpret_cast<usbdevfs_urb*>(data->data);
}

GOwned<UMockdevIoctlData> resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t size) {
    return GOwned<UMockdevIoctlData>(umockdev_ioctl_data_resolve(data, offset, size, nullptr));
}

}  // namespace

EmulatedPhone::EmulatedPhone() : EmulatedPhone(nullptr, kFirstPort, 0, kFirstPort) {}

EmulatedPhone::EmulatedPhone(EmulatedPhone& first, unsigned port, std::uint8_t flashMask,
                             unsigned number)
    : EmulatedPhone(&first, port, flashMask, number == 0 ? port : number) {}

EmulatedPhone::EmulatedPhone(EmulatedPhone* first, unsigned port, std::uint8_t flashMask,
                             unsigned number)
    : testbed_(first ? static_cast<UMockdevTestbed*>(g_object_ref(first->testbed_.get()))
                     : umockdev_testbed_new()),
      handler_(umockdev_ioctl_base_new()),
      location_("1-1." + std::to_string(port)),
      sysPath_("/sys/devices/usb1/1-1/" + location_),
      node_([number] {
          char node[32];
          std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03u", number);
          return std::string(node);
      }()),
      phone_([flashMask] {
          SimPhoneOptions options;
          options.erasedFlashMask = flashMask;
          return options;
      }()) {
    g_signal_connect(handler_.get(), "handle-ioctl", G_CALLBACK(&EmulatedPhone::onIoctl), this);
    GError* error = nullptr;
    // The handler first: the node must answer as soon as the device is seen.
    if (!umockdev_testbed_attach_ioctl(testbed_.get(), node_.c_str(), handler_.get(), &error)) {
        ADD_FAILURE() << "attach_ioctl: " << error->message;
        g_error_free(error);
    }
    const std::string record = testbedRecord(port, number, first == nullptr);
    if (!umockdev_testbed_add_from_string(testbed_.get(), record.c_str(), &error)) {
        ADD_FAILURE() << "add_from_string: " << error->message;
        g_error_free(error);
    }
    bus_ = std::thread([this] { runBus(); });
}

EmulatedPhone::~EmulatedPhone() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    bus_.join();
    if (!nodeGone_) umockdev_testbed_detach_ioctl(testbed_.get(), node_.c_str(), nullptr);
}

void EmulatedPhone::refuseOpen(bool refused) {
    gchar* const root = umockdev_testbed_get_root_dir(testbed_.get());  // the caller's to free
    const std::string node = root + node_;
    g_free(root);
    EXPECT_EQ(::chmod(node.c_str(), refused ? 0 : 0666), 0) << node;
    // The override is a capability of the thread; held in `permitted`, it can be taken again.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> caps{};
    ASSERT_EQ(::syscall(SYS_capget, &header, caps.data()), 0);
    constexpr std::uint32_t override = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    caps[0].effective = refused ? caps[0].effective & ~override
                                : caps[0].effective | (caps[0].permitted & override);
    ASSERT_EQ(::syscall(SYS_capset, &header, caps.data()), 0);
}

void EmulatedPhone::heldElsewhere(bool held) {
    const std::lock_guard lock(mutex_);
    heldElsewhere_ = held;
}

void EmulatedPhone::sendZeroLengthAfterWhole(bool on) {
    const std::lock_guard lock(mutex_);
    in_.setZeroLengthAfterWhole(on);
}

void EmulatedPhone::addFault(UrbFault fault, std::uint64_t urb) {
    const std::lock_guard lock(mutex_);
    faults_[urb] = fault;
}

std::uint64_t EmulatedPhone::bulkUrbs() const {
    const std::lock_guard lock(mutex_);
    return bulkUrbs_;
}

std::size_t EmulatedPhone::urbsInFlight() const {
    const std::lock_guard lock(mutex_);
    return flying_.size() + inUrbs_.size();
}

std::vector<std::string> EmulatedPhone::writes() const {
    const std::lock_guard lock(mutex_);
    return writes_;
}

std::vector<std::uint32_t> EmulatedPhone::inUrbSizes() const {
    const std::lock_guard lock(mutex_);
    return inUrbSizes_;
}

std::vector<std::string> EmulatedPhone::requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

std::optional<std::chrono::steady_clock::time_point> EmulatedPhone::unpluggedAt() const {
    const std::lock_guard lock(mutex_);
    return unpluggedAt_;
}

bool EmulatedPhone::waitUntilUnplugged(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return ueventSent_; });
}

void EmulatedPhone::unplug() {
    const std::lock_guard lock(mutex_);
    requestUnplug(std::chrono::milliseconds(0));
}

void EmulatedPhone::vanish() {
    {
        const std::lock_guard lock(mutex_);
        pullOut();
        nodeGone_ = true;
    }
    umockdev_testbed_remove_device(testbed_.get(), sysPath_.c_str());
    // Its node goes with it, so the number may serve another phone.
    umockdev_testbed_detach_ioctl(testbed_.get(), node_.c_str(), nullptr);
}

void EmulatedPhone::announce() { umockdev_testbed_uevent(testbed_.get(), sysPath_.c_str(), "add"); }

void EmulatedPhone::sendLateRemove() {
    gchar* const held = umockdev_testbed_get_property(testbed_.get(), sysPath_.c_str(), "DEVNAME");
    if (!held) {
        ADD_FAILURE() << "sendLateRemove: no device in the socket " << location_;
        return;
    }
    // The record keeps DEVNAME as the kernel writes it, without "/dev/".
    const std::string node = node_.substr(std::strlen("/dev/"));
    umockdev_testbed_set_property(testbed_.get(), sysPath_.c_str(), "DEVNAME", node.c_str());
    umockdev_testbed_uevent(testbed_.get(), sysPath_.c_str(), "remove");
    umockdev_testbed_set_property(testbed_.get(), sysPath_.c_str(), "DEVNAME", held);
    g_free(held);
}

// Under the lock.
void EmulatedPhone::requestUnplug(std::chrono::milliseconds after) {
    if (unplugRequested_ || removed_) return;
    unplugRequested_ = after;
    changed_.notify_all();
}

void EmulatedPhone::runBus() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopping_ || unplugRequested_; });
    if (stopping_) return;
    // A delay leaves the URB that triggered the removal in flight for a moment, as when the
    // cable comes out in the middle of a transfer.
    changed_.wait_for(lock, *unplugRequested_, [&] { return stopping_; });
    pullOut();
    lock.unlock();
    umockdev_testbed_uevent(testbed_.get(), sysPath_.c_str(), "remove");
    // As the kernel does, the device leaves sysfs: a fresh look at the bus no longer lists it.
    umockdev_testbed_remove_device(testbed_.get(), sysPath_.c_str());
    lock.lock();
    ueventSent_ = true;
    changed_.notify_all();
}

// Under the lock.
void EmulatedPhone::pullOut() {
    removed_ = true;
    unpluggedAt_ = std::chrono::steady_clock::now();
    for (GOwned<UMockdevIoctlData>& urb : flying_) finish(std::move(urb), -ENODEV, 0);
    flying_.clear();
    for (InUrb& in : inUrbs_) finish(std::move(in.urb), -ENODEV, 0);
    inUrbs_.clear();
}

gboolean EmulatedPhone::onIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client,
                                gpointer self) {
    return static_cast<EmulatedPhone*>(self)->handle(client) ? TRUE : FALSE;
}

bool EmulatedPhone::handle(UMockdevIoctlClient* client) {
    const std::lock_guard lock(mutex_);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    auto answer = [&](long result, int error) {
        umockdev_ioctl_client_complete(client, result, error);
        return true;
    };
    auto number = [&](std::size_t size) -> unsigned {
        const GOwned<UMockdevIoctlData> value = resolve(arg, 0, size);
        return value ? *reinterpret_cast<unsigned*>(value->data) : 0;
    };

    switch (request) {
        case USBDEVFS_SUBMITURB: submit(client, arg); return true;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: reap(client, arg); return true;
        case USBDEVFS_DISCARDURB: discard(client, arg); return true;
        default: break;
    }
    if (removed_) return answer(-1, ENODEV);
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            const GOwned<UMockdevIoctlData> caps = resolve(arg, 0, sizeof(std::uint32_t));
            *reinterpret_cast<std::uint32_t*>(caps->data) =
                USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            return answer(0, 0);
        }
        case USBDEVFS_DISCONNECT_CLAIM:
        case USBDEVFS_CLAIMINTERFACE:
            // Another process's claim holds the interface: usbfs refuses a second with EBUSY.
            if (heldElsewhere_) {
                requests_.push_back("claim refused");
                return answer(-1, EBUSY);
            }
            break;
        default: break;
    }
    switch (request) {
        case USBDEVFS_DISCONNECT_CLAIM:
            requests_.push_back("detach-and-claim " +
                                std::to_string(number(sizeof(usbdevfs_disconnect_claim))));
            return answer(0, 0);
        case USBDEVFS_CLAIMINTERFACE:
            requests_.push_back("claim " + std::to_string(number(sizeof(unsigned))));
            return answer(0, 0);
        case USBDEVFS_RELEASEINTERFACE:
            requests_.push_back("release " + std::to_string(number(sizeof(unsigned))));
            return answer(0, 0);
        case USBDEVFS_IOCTL: {
            const GOwned<UMockdevIoctlData> call = resolve(arg, 0, sizeof(usbdevfs_ioctl));
            const auto& command = *reinterpret_cast<usbdevfs_ioctl*>(call->data);
            if (command.ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
                requests_.push_back("connect " + std::to_string(command.ifno));
                return answer(0, 0);
            }
            break;
        }
        case USBDEVFS_GETDRIVER: return answer(-1, ENODATA);  // no kernel driver is bound
        case USBDEVFS_CLEAR_HALT: {
            const unsigned endpoint = number(sizeof(unsigned));
            requests_.push_back("clear-halt " + hexByte(endpoint));
            halted_.erase(static_cast<std::uint8_t>(endpoint));
            serveIn();
            return answer(0, 0);
        }
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_RESETEP: return answer(0, 0);
        default: break;
    }
    char name[32];
    std::snprintf(name, sizeof name, "unknown %lx", request);
    requests_.push_back(name);
    return answer(-1, ENOTTY);
}

void EmulatedPhone::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    GOwned<UMockdevIoctlData> urb = resolve(arg, 0, sizeof(usbdevfs_urb));
    const usbdevfs_urb& fields = urbOf(urb.get());
    if (fields.type == kBulk) ++bulkUrbs_;
    if (removed_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    if (fields.type == kBulk) {
        submitBulk(std::move(urb));
    } else if (fields.type == kControl) {
        submitControl(std::move(urb));
    } else {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedPhone::submitBulk(GOwned<UMockdevIoctlData> urb) {
    usbdevfs_urb& fields = urbOf(urb.get());
    const std::uint8_t endpoint = fields.endpoint;
    const int size = fields.buffer_length;
    if (fields.flags & USBDEVFS_URB_ZERO_PACKET) requests_.push_back("zero-packet");
    if (endpoint != kOutEndpoint && endpoint != kInEndpoint) {
        requests_.push_back("endpoint " + hexByte(endpoint));
        finish(std::move(urb), -EPIPE, 0);
        return;
    }
    const auto fault = faults_.find(bulkUrbs_);
    if (endpoint == kInEndpoint) {
        inUrbSizes_.push_back(static_cast<std::uint32_t>(size));
        std::optional<UrbFault> inFault;
        if (fault != faults_.end()) inFault = fault->second;
        inUrbs_.push_back({std::move(urb), inFault});
        serveIn();
        return;
    }
    if (fault != faults_.end() && fault->second == UrbFault::stall) halted_.insert(endpoint);
    if (halted_.contains(endpoint)) {
        finish(std::move(urb), -EPIPE, 0);
        return;
    }
    if (fault != faults_.end()) {
        flying_.push_back(std::move(urb));
        if (fault->second == UrbFault::unplug) requestUnplug(std::chrono::milliseconds(50));
        return;
    }
    const GOwned<UMockdevIoctlData> buffer =
        resolve(urb.get(), offsetof(usbdevfs_urb, buffer), static_cast<std::size_t>(size));
    // A zero-length URB has no buffer to resolve.
    const std::span<std::uint8_t> data =
        buffer ? std::span(buffer->data, static_cast<std::size_t>(size))
               : std::span<std::uint8_t>();
    writes_.push_back(hexOf(data.data(), data.size()));
    const auto effect = phone_.write(data);
    finish(std::move(urb), 0, size);
    // The phone restarts and drops off the bus once the write has gone through.
    if (effect == SimPhone::WriteEffect::leftFlashMode) {
        requestUnplug({});
        return;
    }
    serveIn();  // a read waiting for an answer may have one now
}

// Under the lock: works through the IN URBs from the one on the wire until one has to wait.
void EmulatedPhone::serveIn() {
    while (!inUrbs_.empty()) {
        InUrb& in = inUrbs_.front();
        if (in.held) return;
        if (in.fault == UrbFault::stall) halted_.insert(kInEndpoint);
        if (halted_.contains(kInEndpoint)) {
            finish(std::move(in.urb), -EPIPE, 0);
            inUrbs_.pop_front();
            continue;
        }
        if (in.fault) {
            in.held = true;
            if (in.fault == UrbFault::unplug) requestUnplug(std::chrono::milliseconds(50));
            return;
        }
        const auto size = static_cast<std::size_t>(urbOf(in.urb.get()).buffer_length);
        // What the URB has taken is kept here until it completes, and only then goes into the
        // client's buffer.
        Bytes taken(size);
        std::copy(in.taken.begin(), in.taken.end(), taken.begin());
        const SimInEndpoint::Served served = in_.serve(phone_, taken, in.taken.size());
        taken.resize(served.filled);
        in.taken = std::move(taken);
        // The phone has said all it has and the URB is neither full nor ended by a short packet:
        // NAK until more comes or the host gives up.
        if (served.end == SimInEndpoint::End::waiting) return;
        if (!in.taken.empty()) {
            const GOwned<UMockdevIoctlData> buffer =
                resolve(in.urb.get(), offsetof(usbdevfs_urb, buffer), size);
            std::memcpy(buffer->data, in.taken.data(), in.taken.size());
        }
        const int status = served.end == SimInEndpoint::End::overflow ? -EOVERFLOW : 0;
        finish(std::move(in.urb), status, static_cast<int>(in.taken.size()));
        inUrbs_.pop_front();
    }
}

void EmulatedPhone::submitControl(GOwned<UMockdevIoctlData> urb) {
    usbdevfs_urb& fields = urbOf(urb.get());
    const GOwned<UMockdevIoctlData> buffer = resolve(
        urb.get(), offsetof(usbdevfs_urb, buffer), static_cast<std::size_t>(fields.buffer_length));
    const std::uint8_t* setup = buffer->data;
    const unsigned value = setup[2] | setup[3] << 8;
    const unsigned length = setup[6] | setup[7] << 8;
    std::vector<std::uint8_t> descriptor;
    // GET_DESCRIPTOR(STRING): the language table (US English) and the two strings.
    if (setup[0] == 0x80 && setup[1] == 6 && value >> 8 == 3) {
        const unsigned index = value & 0xFF;
        if (index == 0) descriptor = {4, 3, 0x09, 0x04};
        if (index == 1) descriptor = stringDescriptor(kManufacturer);
        if (index == 2) descriptor = stringDescriptor(kProduct);
    }
    if (descriptor.empty()) {
        finish(std::move(urb), -EPIPE, 0);  // a request the device doesn't know: a stall
        return;
    }
    const std::size_t delivered = std::min<std::size_t>(descriptor.size(), length);
    std::memcpy(buffer->data + 8, descriptor.data(), delivered);
    finish(std::move(urb), 0, static_cast<int>(delivered));
}

// Under the lock: the URB is complete and waits to be reaped.
void EmulatedPhone::finish(GOwned<UMockdevIoctlData> urb, int status, int length) {
    urbOf(urb.get()).status = status;
    urbOf(urb.get()).actual_length = length;
    reapable_.push_back(std::move(urb));
}

void EmulatedPhone::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    if (reapable_.empty()) {
        // After a removal usbfs gives back what completed, then reports the device gone.
        umockdev_ioctl_client_complete(client, -1, removed_ ? ENODEV : EAGAIN);
        return;
    }
    const GOwned<UMockdevIoctlData> urb = std::move(reapable_.front());
    reapable_.pop_front();
    const GOwned<UMockdevIoctlData> pointer = resolve(arg, 0, sizeof(void*));
    umockdev_ioctl_data_set_ptr(pointer.get(), 0, urb.get());
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedPhone::discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    const gulong address = *reinterpret_cast<gulong*>(arg->data);
    const auto discarded = [&](GOwned<UMockdevIoctlData> urb, std::size_t taken = 0) {
        requests_.push_back("discard");
        finish(std::move(urb), -ENOENT, static_cast<int>(taken));
        umockdev_ioctl_client_complete(client, 0, 0);
    };
    for (auto urb = flying_.begin(); urb != flying_.end(); ++urb) {
        if ((*urb)->client_addr != address) continue;
        discarded(std::move(*urb));
        flying_.erase(urb);
        return;
    }
    for (auto in = inUrbs_.begin(); in != inUrbs_.end(); ++in) {
        if (in->urb->client_addr != address) continue;
        const bool onTheWire = in == inUrbs_.begin();
        // The packets it took before it was unlinked are the host's, as usbfs reports them.
        if (!in->taken.empty()) {
            const GOwned<UMockdevIoctlData> buffer =
                resolve(in->urb.get(), offsetof(usbdevfs_urb, buffer),
                        static_cast<std::size_t>(urbOf(in->urb.get()).buffer_length));
            std::memcpy(buffer->data, in->taken.data(), in->taken.size());
        }
        discarded(std::move(in->urb), in->taken.size());
        inUrbs_.erase(in);
        // The controller goes on with the next URB of the endpoint.
        if (onTheWire) serveIn();
        return;
    }
    // Already complete: usbfs says so, and the URB is reaped as it completed.
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

}  // namespace norvale::usb_testing
