// Move-only owners for the libusb objects the Linux USB binding holds, and for its event thread.
#pragma once

#include <libusb.h>

#include <atomic>
#include <memory>
#include <span>
#include <thread>
#include <utility>

namespace norvale {

// One owner per kind, each giving its object back the way libusb wants it back, so a handle can't
// outlive the context that made it and nothing is released twice.
struct LibusbContextExit {
    void operator()(libusb_context* context) const { libusb_exit(context); }
};
using UniqueLibusbContext = std::unique_ptr<libusb_context, LibusbContextExit>;

struct LibusbHandleClose {
    void operator()(libusb_device_handle* handle) const { libusb_close(handle); }
};
using UniqueLibusbHandle = std::unique_ptr<libusb_device_handle, LibusbHandleClose>;

struct LibusbTransferFree {
    void operator()(libusb_transfer* transfer) const { libusb_free_transfer(transfer); }
};
using UniqueLibusbTransfer = std::unique_ptr<libusb_transfer, LibusbTransferFree>;

struct LibusbConfigFree {
    void operator()(libusb_config_descriptor* config) const {
        libusb_free_config_descriptor(config);
    }
};
using UniqueConfigDescriptor = std::unique_ptr<libusb_config_descriptor, LibusbConfigFree>;

// The devices on the bus now, each referenced until the list goes; empty when the bus can't be
// read.
class LibusbDeviceList {
public:
    explicit LibusbDeviceList(libusb_context* context) {
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(context, &list);
        if (count < 0) return;
        list_ = list;
        count_ = static_cast<std::size_t>(count);
    }
    LibusbDeviceList(const LibusbDeviceList&) = delete;
    LibusbDeviceList& operator=(const LibusbDeviceList&) = delete;
    ~LibusbDeviceList() {
        if (list_) libusb_free_device_list(list_, 1);
    }

    std::span<libusb_device* const> devices() const { return {list_, count_}; }
    // False when libusb could not list the devices (not the same as finding none).
    bool read() const { return list_ != nullptr; }

private:
    libusb_device** list_ = nullptr;
    std::size_t count_ = 0;
};

// An interface claimed on an open handle; released before the handle is closed (the owner of
// both declares the handle first). With auto-detach on, the release gives a kernel driver that
// was taken off the interface back to it.
class ClaimedInterface {
public:
    ClaimedInterface() = default;
    ClaimedInterface(const ClaimedInterface&) = delete;
    ClaimedInterface& operator=(const ClaimedInterface&) = delete;
    ClaimedInterface(ClaimedInterface&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)), number_(other.number_) {}
    ClaimedInterface& operator=(ClaimedInterface&& other) noexcept {
        if (this != &other) {
            release();
            handle_ = std::exchange(other.handle_, nullptr);
            number_ = other.number_;
        }
        return *this;
    }
    ~ClaimedInterface() { release(); }

    // libusb's answer: 0 once claimed, else its error, holding nothing.
    int claim(libusb_device_handle* handle, int number) {
        release();
        if (const int refused = libusb_claim_interface(handle, number); refused != 0) {
            return refused;
        }
        handle_ = handle;
        number_ = number;
        return 0;
    }

private:
    void release() {
        if (handle_) libusb_release_interface(std::exchange(handle_, nullptr), number_);
    }

    libusb_device_handle* handle_ = nullptr;
    int number_ = -1;
};

// A hotplug callback, deregistered when the owner goes.
class HotplugRegistration {
public:
    HotplugRegistration() = default;
    HotplugRegistration(libusb_context* context, libusb_hotplug_callback_handle handle)
        : context_(context), handle_(handle) {}
    HotplugRegistration(const HotplugRegistration&) = delete;
    HotplugRegistration& operator=(const HotplugRegistration&) = delete;
    HotplugRegistration(HotplugRegistration&& other) noexcept
        : context_(std::exchange(other.context_, nullptr)), handle_(other.handle_) {}
    HotplugRegistration& operator=(HotplugRegistration&& other) noexcept {
        if (this != &other) {
            reset();
            context_ = std::exchange(other.context_, nullptr);
            handle_ = other.handle_;
        }
        return *this;
    }
    ~HotplugRegistration() { reset(); }

    bool registered() const { return context_ != nullptr; }
    void reset() {
        if (context_) libusb_hotplug_deregister_callback(std::exchange(context_, nullptr), handle_);
    }

private:
    libusb_context* context_ = nullptr;
    libusb_hotplug_callback_handle handle_{};
};

// The thread that handles libusb's events: transfer completions, their time limits and hotplug
// callbacks all run on it. Stopping interrupts its wait and joins it, so no callback runs after.
class LibusbEventThread {
public:
    LibusbEventThread() = default;
    LibusbEventThread(const LibusbEventThread&) = delete;
    LibusbEventThread& operator=(const LibusbEventThread&) = delete;
    ~LibusbEventThread() { stop(); }

    void start(libusb_context* context) {
        context_ = context;
        thread_ = std::thread([this] {
            while (!stopping_.load()) libusb_handle_events(context_);
        });
    }
    void stop() {
        if (!thread_.joinable()) return;
        stopping_.store(true);
        libusb_interrupt_event_handler(context_);
        thread_.join();
    }

private:
    libusb_context* context_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace norvale
