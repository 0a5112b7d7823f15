// The Linux USB binding: enumeration, open and claim, asynchronous transfers, removal.
#include "platform/libusb/LibusbPort.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <climits>
#include <deque>
#include <optional>
#include <set>

namespace norvale {
namespace {

// Depth of a USB tree: a root port and at most six hubs below it.
constexpr std::size_t kMaxPortDepth = 7;
constexpr std::uint32_t kStringWaitMs = 5000;
// bLength is one byte: no string descriptor is longer.
constexpr std::size_t kStringDescriptorMax = 255;
// wMaxPacketSize keeps the size in bits 0-10; the bits above it name extra transactions.
constexpr std::uint16_t kPacketSizeMask = 0x07FF;
// A standard request to the device, answered towards the host.
constexpr auto kGetDescriptorRequestType = static_cast<std::uint8_t>(
    static_cast<int>(LIBUSB_ENDPOINT_IN) | static_cast<int>(LIBUSB_REQUEST_TYPE_STANDARD) |
    static_cast<int>(LIBUSB_RECIPIENT_DEVICE));

bool isPhone(libusb_device* device) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0) return false;
    return descriptor.idVendor == kFlashModeVendorId && descriptor.idProduct == kFlashModeProductId;
}

// "bus-port.port...": the same while the device stays in its socket, whatever address the bus
// gives it at each enumeration. Empty for a root hub or a tree too deep to name.
std::string locationOf(libusb_device* device) {
    std::array<std::uint8_t, kMaxPortDepth> ports{};
    const int count = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
    if (count <= 0) return {};
    std::string location = std::to_string(libusb_get_bus_number(device)) + '-';
    for (int i = 0; i < count; ++i) {
        if (i != 0) location += '.';
        location += std::to_string(ports[static_cast<std::size_t>(i)]);
    }
    return location;
}

UsbStatus statusOf(libusb_transfer_status status) {
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED: return UsbStatus::done;
        case LIBUSB_TRANSFER_TIMED_OUT: return UsbStatus::timedOut;
        case LIBUSB_TRANSFER_NO_DEVICE: return UsbStatus::gone;
        case LIBUSB_TRANSFER_STALL: return UsbStatus::stalled;
        case LIBUSB_TRANSFER_OVERFLOW: return UsbStatus::overflow;
        case LIBUSB_TRANSFER_ERROR:
        case LIBUSB_TRANSFER_CANCELLED: break;
    }
    return UsbStatus::failed;
}

UsbStatus statusOfError(int error) {
    switch (error) {
        case LIBUSB_ERROR_NO_DEVICE: return UsbStatus::gone;
        case LIBUSB_ERROR_PIPE: return UsbStatus::stalled;
        case LIBUSB_ERROR_TIMEOUT: return UsbStatus::timedOut;
        default: return UsbStatus::failed;
    }
}

// What a transfer's completion hands the thread that waits for it.
struct Completion {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
};

void LIBUSB_CALL onTransferDone(libusb_transfer* transfer) {
    auto* completion = static_cast<Completion*>(transfer->user_data);
    // Notified under the lock: the waiter frees the record as soon as it sees `done`.
    const std::lock_guard lock(completion->mutex);
    completion->done = true;
    completion->finished.notify_all();
}

struct BulkPair {
    int interfaceNumber = -1;
    std::uint8_t out = 0;
    std::uint8_t in = 0;
    std::uint32_t inMaxPacket = 0;
};

// The first interface whose first setting has a bulk OUT and a bulk IN endpoint.
BulkPair findBulkPair(const libusb_config_descriptor& config) {
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& entry = config.interface[i];
        if (entry.num_altsetting < 1) continue;
        const libusb_interface_descriptor& setting = entry.altsetting[0];
        BulkPair pair;
        for (int e = 0; e < setting.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
            if ((endpoint.bmAttributes & 0x03) != LIBUSB_TRANSFER_TYPE_BULK) continue;
            if ((endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
                if (pair.in != 0) continue;
                pair.in = endpoint.bEndpointAddress;
                pair.inMaxPacket = endpoint.wMaxPacketSize & kPacketSizeMask;
            } else if (pair.out == 0) {
                pair.out = endpoint.bEndpointAddress;
            }
        }
        if (pair.out != 0 && pair.in != 0 && pair.inMaxPacket != 0) {
            pair.interfaceNumber = setting.bInterfaceNumber;
            return pair;
        }
    }
    return {};
}

BulkPair bulkPairOf(libusb_device* device) {
    libusb_config_descriptor* raw = nullptr;
    // A device not yet configured has no active configuration: its first one is what it gets.
    if (libusb_get_active_config_descriptor(device, &raw) != 0 &&
        libusb_get_config_descriptor(device, 0, &raw) != 0) {
        return {};
    }
    const UniqueConfigDescriptor config(raw);
    return findBulkPair(*config);
}

// "bus:number", which the kernel gives anew to each device that arrives.
std::string attachmentOf(libusb_device* device) {
    return std::to_string(libusb_get_bus_number(device)) + ':' +
           std::to_string(libusb_get_device_address(device));
}

// One look at the bus, in a context made for it: what is attached now, whatever hotplug events
// the system did or did not send. Unread when libusb can't start or can't list the devices.
class BusLook {
public:
    explicit BusLook(LibusbInit init) {
        libusb_context* context = nullptr;
        if (init(&context) != 0) return;
        context_.reset(context);
        list_ = std::make_unique<LibusbDeviceList>(context);
    }

    bool read() const { return list_ && list_->read(); }
    std::span<libusb_device* const> devices() const {
        return list_ ? list_->devices() : std::span<libusb_device* const>{};
    }
    // The phone in the socket `location`, or null.
    libusb_device* phoneAt(const std::string& location) const {
        for (libusb_device* device : devices()) {
            if (isPhone(device) && locationOf(device) == location) return device;
        }
        return nullptr;
    }
    // The context, for a device opened in it; the list goes first (an open handle keeps its
    // device referenced).
    UniqueLibusbContext release() {
        list_.reset();
        return std::move(context_);
    }

private:
    // The list goes before its context.
    UniqueLibusbContext context_;
    std::unique_ptr<LibusbDeviceList> list_;
};

}  // namespace

struct LibusbPort::OpenPhone {
    // A context of its own, for a phone the port's context never heard of; declared first, so
    // they go last: the handle is closed before its event thread stops and its context ends.
    UniqueLibusbContext context;
    LibusbEventThread events;
    std::string location;
    std::string attachment;  // "bus:number" of the device opened
    // The handle before the claim: the interface is released before the handle is closed.
    UniqueLibusbHandle handle;
    ClaimedInterface claim;
    BulkPair endpoints;
    // Set once a transfer found the device gone or its removal was reported: later transfers
    // then end at once.
    std::atomic<bool> gone{false};
    // Transfers submitted and not yet given back, so cancel() can reach them.
    std::mutex mutex;
    std::set<libusb_transfer*> outstanding;
};

struct LibusbPort::Opened {
    DeviceHandle device = kInvalidDevice;
    UsbOpenFailure failure = UsbOpenFailure::failed;
};

LibusbPort::LibusbPort(RemovalNotice notice, LibusbInit init) : notice_(notice), init_(init) {
    context();
}

libusb_context* LibusbPort::context() {
    const std::lock_guard lock(startMutex_);
    if (context_) return context_.get();
    libusb_context* context = nullptr;
    if (init_(&context) != 0) return nullptr;
    context_.reset(context);
    if (notice_ == RemovalNotice::hotplug && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0) {
        libusb_hotplug_callback_handle handle{};
        const auto events = static_cast<libusb_hotplug_event>(
            static_cast<int>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) |
            static_cast<int>(LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT));
        if (libusb_hotplug_register_callback(
                context, events, LIBUSB_HOTPLUG_NO_FLAGS, kFlashModeVendorId, kFlashModeProductId,
                LIBUSB_HOTPLUG_MATCH_ANY, &onHotplug, this, &handle) == LIBUSB_SUCCESS) {
            hotplug_ = HotplugRegistration(context, handle);
        }
    }
    events_.start(context);
    return context;
}

LibusbPort::~LibusbPort() {
    std::unique_lock lock(removalMutex_);
    closing_ = true;
    removalChanged_.notify_all();
    removalChanged_.wait(lock, [&] { return waiters_ == 0; });
    lock.unlock();
    // The members go in the reverse order of their declaration: the event thread first.
}

UsbBusLook LibusbPort::lookAtBus() {
    UsbBusLook look;
    if (!context()) return look;
    const BusLook bus(init_);
    if (!bus.read()) return look;
    look.read = true;
    for (libusb_device* device : bus.devices()) {
        if (!isPhone(device)) continue;
        std::string location = locationOf(device);
        if (!location.empty()) look.phones.push_back({std::move(location), attachmentOf(device)});
    }
    return look;
}

std::vector<std::string> LibusbPort::listPhones() {
    std::vector<std::string> phones;
    for (UsbAttached& phone : lookAtBus().phones) phones.push_back(std::move(phone.location));
    return phones;
}

std::string LibusbPort::attachmentAt(const std::string& location, bool* read) {
    const BusLook bus(init_);
    if (read) *read = bus.read();
    libusb_device* const device = bus.phoneAt(location);
    return device ? attachmentOf(device) : std::string{};
}

bool LibusbPort::waitForBusChange(StopToken stop, std::uint32_t waitMs) {
    const StopWake wake(stop, [this] {
        const std::lock_guard lock(removalMutex_);
        removalChanged_.notify_all();
    });
    std::unique_lock lock(removalMutex_);
    // Counted from the last wait's end, not this one's start: an event that came while the
    // watcher was looking at the bus is told now rather than left to its next timed look.
    // Counted as waitForRemoval()'s callers are, so the destructor waits for it to leave.
    ++waiters_;
    removalChanged_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] {
        return closing_ || stop.stopRequested() || busEvents_ != busEventsTold_;
    });
    const bool told = busEvents_ != busEventsTold_;
    busEventsTold_ = busEvents_;
    --waiters_;
    removalChanged_.notify_all();
    return told;
}

std::string LibusbPort::serialNumber(const std::string& location) {
    if (!context()) return {};
    const BusLook bus(init_);
    libusb_device* const device = bus.phoneAt(location);
    libusb_device_descriptor descriptor{};
    if (!device || libusb_get_device_descriptor(device, &descriptor) != 0 ||
        descriptor.iSerialNumber == 0) {
        return {};
    }
    // Opening a device claims nothing: a session that holds the phone keeps it.
    libusb_device_handle* raw = nullptr;
    if (libusb_open(device, &raw) != 0) return {};
    const UniqueLibusbHandle handle(raw);
    std::array<unsigned char, kStringDescriptorMax> text{};
    const int length = libusb_get_string_descriptor_ascii(
        handle.get(), descriptor.iSerialNumber, text.data(), static_cast<int>(text.size()));
    if (length <= 0) return {};
    // As Windows gives it in the device's instance id, upper-cased: the same phone has the same
    // serial on every system and road.
    std::string serial(text.begin(), text.begin() + length);
    std::transform(serial.begin(), serial.end(), serial.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return serial;
}

UsbOpenFailure LibusbPort::openFailure(const std::string& location) {
    const Opened opened = tryOpen(location);
    if (opened.device.valid()) close(opened.device);
    return opened.failure;
}

DeviceHandle LibusbPort::open(const std::string& location) { return tryOpen(location).device; }

LibusbPort::Opened LibusbPort::tryOpen(const std::string& location) {
    libusb_context* const portContext = context();
    if (!portContext) return {};
    BusLook look(init_);
    if (!look.read()) return {};
    libusb_device* const fresh = look.phoneAt(location);
    if (!fresh) return {kInvalidDevice, UsbOpenFailure::gone};
    auto phone = std::make_shared<OpenPhone>();
    phone->location = location;
    phone->attachment = attachmentOf(fresh);
    phone->endpoints = bulkPairOf(fresh);
    if (phone->endpoints.interfaceNumber < 0) return {};

    // The port's context serves the device with its event thread when it knows that very device
    // (the same number at the same socket); otherwise the look's context is kept for it.
    const LibusbDeviceList known(portContext);
    libusb_device* chosen = fresh;
    for (libusb_device* candidate : known.devices()) {
        if (isPhone(candidate) && attachmentOf(candidate) == phone->attachment &&
            locationOf(candidate) == location) {
            chosen = candidate;
            break;
        }
    }
    libusb_device_handle* handle = nullptr;
    if (const int refused = libusb_open(chosen, &handle); refused != 0) {
        if (refused == LIBUSB_ERROR_ACCESS) return {kInvalidDevice, UsbOpenFailure::noPermission};
        if (refused == LIBUSB_ERROR_NO_DEVICE) return {kInvalidDevice, UsbOpenFailure::gone};
        if (refused == LIBUSB_ERROR_BUSY) return {kInvalidDevice, UsbOpenFailure::inUse};
        return {};
    }
    phone->handle.reset(handle);
    if (chosen == fresh) phone->context = look.release();
    // A kernel driver that bound to the interface is taken off it for as long as it is claimed.
    // Where libusb can't do that, the claim below says whether the interface is free.
    libusb_set_auto_detach_kernel_driver(phone->handle.get(), 1);
    if (const int refused =
            phone->claim.claim(phone->handle.get(), phone->endpoints.interfaceNumber);
        refused != 0) {
        if (refused == LIBUSB_ERROR_BUSY) return {kInvalidDevice, UsbOpenFailure::inUse};
        if (refused == LIBUSB_ERROR_NO_DEVICE) return {kInvalidDevice, UsbOpenFailure::gone};
        return {};
    }
    // The device held is the one at the socket still: a look after the open finds its number
    // there. Another device that took the number since sits elsewhere, or the socket is empty.
    if (attachmentAt(location) != phone->attachment) return {kInvalidDevice, UsbOpenFailure::gone};
    if (phone->context) phone->events.start(phone->context.get());

    const std::lock_guard lock(devicesMutex_);
    const DeviceHandle opened{nextHandle_++};
    devices_.emplace(opened.bits, std::move(phone));
    return {opened, UsbOpenFailure::none};
}

void LibusbPort::close(DeviceHandle device) {
    std::shared_ptr<OpenPhone> phone;
    {
        const std::lock_guard lock(devicesMutex_);
        const auto found = devices_.find(device.bits);
        if (found == devices_.end()) return;
        phone = std::move(found->second);
        devices_.erase(found);
    }
    // Released and closed here, outside the lock, unless a call still uses it: then when that
    // call lets go.
}

std::shared_ptr<LibusbPort::OpenPhone> LibusbPort::find(DeviceHandle device) const {
    const std::lock_guard lock(devicesMutex_);
    const auto found = devices_.find(device.bits);
    return found == devices_.end() ? nullptr : found->second;
}

std::uint32_t LibusbPort::maxPacketSize(DeviceHandle device) {
    const std::shared_ptr<OpenPhone> phone = find(device);
    return phone ? phone->endpoints.inMaxPacket : 0;
}

UsbTransfer LibusbPort::bulkOut(DeviceHandle device, std::span<const std::uint8_t> data,
                                std::uint32_t waitMs) {
    // libusb takes one buffer type for both directions; an OUT transfer only reads it.
    return bulk(device, const_cast<std::uint8_t*>(data.data()), data.size(), false, waitMs);
}

UsbTransfer LibusbPort::bulkIn(DeviceHandle device, std::span<std::uint8_t> buffer,
                               std::uint32_t waitMs) {
    return bulk(device, buffer.data(), buffer.size(), true, waitMs);
}

UsbTransfer LibusbPort::bulk(DeviceHandle device, std::uint8_t* data, std::size_t size, bool in,
                             std::uint32_t waitMs) {
    const std::shared_ptr<OpenPhone> phone = find(device);
    if (!phone) return {UsbStatus::gone, 0};
    if (size > static_cast<std::size_t>(INT_MAX)) return {UsbStatus::failed, 0};
    const UniqueLibusbTransfer transfer(libusb_alloc_transfer(0));
    if (!transfer) return {UsbStatus::failed, 0};
    const std::uint8_t endpoint = in ? phone->endpoints.in : phone->endpoints.out;
    // No flags: in particular no zero-length packet after an OUT transfer of whole packets,
    // since the loader counts the bytes it is sent. libusb's time limit of 0 means none at all.
    libusb_fill_bulk_transfer(transfer.get(), phone->handle.get(), endpoint, data,
                              static_cast<int>(size), nullptr, nullptr, std::max(waitMs, 1u));
    const UsbTransfer result = run(*phone, transfer.get());
    // A halted endpoint stays halted until the host clears it: the next command would fail too.
    if (result.status == UsbStatus::stalled) libusb_clear_halt(phone->handle.get(), endpoint);
    return result;
}

UsbTransfer LibusbPort::run(OpenPhone& phone, libusb_transfer* transfer) {
    Completion completion;
    transfer->callback = &onTransferDone;
    transfer->user_data = &completion;
    {
        const std::lock_guard lock(phone.mutex);
        if (phone.gone.load()) return {UsbStatus::gone, 0};
        const int submitted = libusb_submit_transfer(transfer);
        if (submitted != 0) {
            if (submitted == LIBUSB_ERROR_NO_DEVICE) phone.gone.store(true);
            return {statusOfError(submitted), 0};
        }
        phone.outstanding.insert(transfer);
    }
    {
        // libusb ends every submitted transfer: completed, failed, or cancelled at its time limit
        // (or by cancel()) once the cancellation has been given back.
        std::unique_lock lock(completion.mutex);
        completion.finished.wait(lock, [&] { return completion.done; });
    }
    {
        const std::lock_guard lock(phone.mutex);
        phone.outstanding.erase(transfer);
    }
    const UsbStatus status = statusOf(transfer->status);
    if (status == UsbStatus::gone) phone.gone.store(true);
    return {status, static_cast<std::uint32_t>(std::max(transfer->actual_length, 0))};
}

// One transfer of a queue, with the completion its callback signals; neither moves while the
// transfer is outstanding.
struct QueuedTransfer {
    UniqueLibusbTransfer transfer{libusb_alloc_transfer(0)};
    Completion completion;
    std::vector<std::uint8_t> buffer;
};

class LibusbPort::InQueue final : public UsbInQueue {
public:
    explicit InQueue(std::shared_ptr<OpenPhone> phone) : phone_(std::move(phone)) {}
    InQueue(const InQueue&) = delete;
    InQueue& operator=(const InQueue&) = delete;
    ~InQueue() override {
        {
            const std::lock_guard lock(phone_->mutex);
            for (auto queued = queued_.rbegin(); queued != queued_.rend(); ++queued) {
                libusb_cancel_transfer((*queued)->transfer.get());
            }
        }
        while (!queued_.empty()) {
            waitFor(*queued_.front(), std::nullopt);
            if (statusOf(queued_.front()->transfer->status) == UsbStatus::stalled) stalled_ = true;
            takeBack();
        }
        if (stalled_) libusb_clear_halt(phone_->handle.get(), phone_->endpoints.in);
    }

    bool submit(std::uint32_t size) override {
        if (size > static_cast<std::uint32_t>(INT_MAX)) return false;
        std::unique_ptr<QueuedTransfer> queued = reaped_ ? std::move(reaped_) : nullptr;
        if (!queued) queued = std::make_unique<QueuedTransfer>();
        if (!queued->transfer) return false;
        queued->buffer.resize(size);
        queued->completion.done = false;
        libusb_fill_bulk_transfer(queued->transfer.get(), phone_->handle.get(),
                                  phone_->endpoints.in, queued->buffer.data(),
                                  static_cast<int>(size), &onTransferDone, &queued->completion, 0);
        const std::lock_guard lock(phone_->mutex);
        if (phone_->gone.load()) return false;
        const int submitted = libusb_submit_transfer(queued->transfer.get());
        if (submitted != 0) {
            if (submitted == LIBUSB_ERROR_NO_DEVICE) phone_->gone.store(true);
            return false;
        }
        phone_->outstanding.insert(queued->transfer.get());
        queued_.push_back(std::move(queued));
        return true;
    }

    UsbReaped reap(std::uint32_t waitMs) override {
        if (queued_.empty()) return {{UsbStatus::failed, 0}, {}};
        if (!waitFor(*queued_.front(), std::chrono::milliseconds(waitMs))) {
            return {{UsbStatus::timedOut, 0}, {}};
        }
        takeBack();
        const libusb_transfer& ended = *reaped_->transfer;
        const UsbStatus status = statusOf(ended.status);
        if (status == UsbStatus::gone) phone_->gone.store(true);
        if (status == UsbStatus::stalled) stalled_ = true;
        const std::size_t length = std::min<std::size_t>(
            static_cast<std::size_t>(std::max(ended.actual_length, 0)), reaped_->buffer.size());
        return {{status, static_cast<std::uint32_t>(length)},
                std::span(reaped_->buffer).first(length)};
    }

private:
    // Whether the transfer has ended, waiting at most `limit` (without end when there is none).
    static bool waitFor(QueuedTransfer& queued, std::optional<std::chrono::milliseconds> limit) {
        std::unique_lock lock(queued.completion.mutex);
        if (!limit) {
            queued.completion.finished.wait(lock, [&] { return queued.completion.done; });
            return true;
        }
        return queued.completion.finished.wait_for(lock, *limit,
                                                   [&] { return queued.completion.done; });
    }
    // The oldest transfer, which has ended, leaves the queue; its bytes stay in `reaped_`.
    void takeBack() {
        {
            const std::lock_guard lock(phone_->mutex);
            phone_->outstanding.erase(queued_.front()->transfer.get());
        }
        reaped_ = std::move(queued_.front());
        queued_.pop_front();
    }

    std::shared_ptr<OpenPhone> phone_;
    std::deque<std::unique_ptr<QueuedTransfer>> queued_;
    std::unique_ptr<QueuedTransfer> reaped_;
    bool stalled_ = false;
};

std::unique_ptr<UsbInQueue> LibusbPort::openInQueue(DeviceHandle device) {
    std::shared_ptr<OpenPhone> phone = find(device);
    if (!phone) return nullptr;
    return std::make_unique<InQueue>(std::move(phone));
}

UsbTransfer LibusbPort::stringDescriptor(DeviceHandle device, UsbString which,
                                         std::span<std::uint8_t> buffer) {
    const std::shared_ptr<OpenPhone> phone = find(device);
    if (!phone) return {UsbStatus::gone, 0};
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(libusb_get_device(phone->handle.get()), &descriptor) != 0) {
        return {UsbStatus::failed, 0};
    }
    const std::uint8_t index =
        which == UsbString::manufacturer ? descriptor.iManufacturer : descriptor.iProduct;
    if (index == 0) return {UsbStatus::failed, 0};  // the device has no such string

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStringWaitMs);
    std::array<std::uint8_t, LIBUSB_CONTROL_SETUP_SIZE + kStringDescriptorMax> reply{};
    const UsbTransfer languages = stringRequest(*phone, 0, 0, reply, kStringWaitMs);
    if (languages.status != UsbStatus::done) return languages;
    const std::uint8_t* table = reply.data() + LIBUSB_CONTROL_SETUP_SIZE;
    if (languages.transferred < 4 || table[1] != LIBUSB_DT_STRING) return {UsbStatus::failed, 0};
    const auto language = static_cast<std::uint16_t>(table[2] | table[3] << 8);

    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {UsbStatus::timedOut, 0};
    reply.fill(0);
    const UsbTransfer text =
        stringRequest(*phone, index, language, reply, static_cast<std::uint32_t>(left.count()));
    if (text.status != UsbStatus::done) return text;
    const std::size_t length = std::min<std::size_t>(text.transferred, buffer.size());
    std::copy_n(reply.begin() + LIBUSB_CONTROL_SETUP_SIZE, length, buffer.begin());
    return {UsbStatus::done, static_cast<std::uint32_t>(length)};
}

UsbTransfer LibusbPort::stringRequest(OpenPhone& phone, std::uint8_t index, std::uint16_t language,
                                      std::span<std::uint8_t> setupAndData, std::uint32_t waitMs) {
    const UniqueLibusbTransfer transfer(libusb_alloc_transfer(0));
    if (!transfer) return {UsbStatus::failed, 0};
    libusb_fill_control_setup(
        setupAndData.data(), kGetDescriptorRequestType, LIBUSB_REQUEST_GET_DESCRIPTOR,
        static_cast<std::uint16_t>(LIBUSB_DT_STRING << 8 | index), language,
        static_cast<std::uint16_t>(setupAndData.size() - LIBUSB_CONTROL_SETUP_SIZE));
    libusb_fill_control_transfer(transfer.get(), phone.handle.get(), setupAndData.data(), nullptr,
                                 nullptr, std::max(waitMs, 1u));
    return run(phone, transfer.get());
}

UsbStatus LibusbPort::resetPipe(DeviceHandle device, bool in) {
    const std::shared_ptr<OpenPhone> phone = find(device);
    if (!phone || phone->gone.load()) return UsbStatus::gone;
    const int cleared =
        libusb_clear_halt(phone->handle.get(), in ? phone->endpoints.in : phone->endpoints.out);
    if (cleared == 0) return UsbStatus::done;
    if (cleared == LIBUSB_ERROR_NO_DEVICE) phone->gone.store(true);
    return statusOfError(cleared);
}

void LibusbPort::cancel(DeviceHandle device) {
    const std::shared_ptr<OpenPhone> phone = find(device);
    if (!phone) return;
    const std::lock_guard lock(phone->mutex);
    // Each ends with LIBUSB_TRANSFER_CANCELLED once usbfs gives it back; one that has just
    // completed is no longer in flight, and libusb says so harmlessly.
    for (libusb_transfer* transfer : phone->outstanding) libusb_cancel_transfer(transfer);
}

int LibusbPort::onHotplug(libusb_context* /*context*/, libusb_device* device,
                          libusb_hotplug_event event, void* port) {
    auto* self = static_cast<LibusbPort*>(port);
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT) {
        self->noteDeparture(attachmentOf(device));
    } else {
        const std::lock_guard lock(self->removalMutex_);
        ++self->busEvents_;
        self->removalChanged_.notify_all();
    }
    return 0;  // stay registered
}

void LibusbPort::noteDeparture(const std::string& attachment) {
    {
        const std::lock_guard lock(devicesMutex_);
        for (const auto& [bits, phone] : devices_) {
            if (phone->attachment == attachment) phone->gone.store(true);
        }
    }
    const std::lock_guard lock(removalMutex_);
    ++departures_[attachment];
    ++busEvents_;
    removalChanged_.notify_all();
}

std::uint64_t LibusbPort::hotplugDepartures() {
    const std::lock_guard lock(removalMutex_);
    std::uint64_t told = 0;
    for (const auto& [attachment, count] : departures_) told += count;
    return told;
}

bool LibusbPort::waitForRemoval(const std::string& location, StopToken stop) {
    if (!context()) return false;
    // The wake takes the lock, so it can't fall between a look at the stop and the wait.
    // Registered before the lock is taken (a stop already requested runs it at once) and gone
    // after it is released (its destruction waits for a wake in progress).
    const StopWake wake(stop, [this] {
        const std::lock_guard lock(removalMutex_);
        removalChanged_.notify_all();
    });
    std::unique_lock lock(removalMutex_);
    if (closing_ || stop.stopRequested()) return false;
    // The device there now; a departure reported after this look is seen, since a departure
    // reported before it would have left it out of the look.
    lock.unlock();
    const std::string attachment = attachmentAt(location);
    if (attachment.empty()) return false;
    lock.lock();
    const std::uint64_t seen = departures_[attachment];
    ++waiters_;
    const auto ended = [&] { return closing_ || stop.stopRequested(); };
    for (;;) {
        // A hotplug departure ends the wait at once; the bus is looked at besides, since a
        // system without udev tells of no departure.
        if (removalChanged_.wait_for(lock, kRemovalPollInterval,
                                     [&] { return ended() || departures_[attachment] != seen; })) {
            break;
        }
        lock.unlock();
        bool read = false;
        const bool present = attachmentAt(location, &read) == attachment || !read;
        lock.lock();
        if (!present) break;
    }
    const bool removed = !ended();
    --waiters_;
    removalChanged_.notify_all();
    return removed;
}

}  // namespace norvale
