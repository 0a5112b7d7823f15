// The simulator's USB port with the processor time spent inside it counted, as TimedDriverPort
// counts the driver's.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "platform/UsbPort.h"

namespace norvale::bench {

// Forwards every call to `inner`; the calling thread's processor time inside the transfers (bulk
// OUT, bulk IN, and the submit and reap calls of the queues it opens) goes to a running total,
// and each transfer counts once. Used from one command worker at a time; not guarded.
class TimedUsbPort final : public UsbPort {
public:
    explicit TimedUsbPort(UsbPort& inner) : inner_(inner) {}

    std::vector<std::string> listPhones() override { return inner_.listPhones(); }
    UsbBusLook lookAtBus() override { return inner_.lookAtBus(); }
    bool waitForBusChange(StopToken stop, std::uint32_t waitMs) override {
        return inner_.waitForBusChange(std::move(stop), waitMs);
    }
    DeviceHandle open(const std::string& location) override { return inner_.open(location); }
    std::string serialNumber(const std::string& location) override {
        return inner_.serialNumber(location);
    }
    UsbOpenFailure openFailure(const std::string& location) override {
        return inner_.openFailure(location);
    }
    void close(DeviceHandle device) override { inner_.close(device); }
    std::uint32_t maxPacketSize(DeviceHandle device) override {
        return inner_.maxPacketSize(device);
    }
    UsbTransfer bulkOut(DeviceHandle device, std::span<const std::uint8_t> data,
                        std::uint32_t waitMs) override;
    UsbTransfer bulkIn(DeviceHandle device, std::span<std::uint8_t> buffer,
                       std::uint32_t waitMs) override;
    std::unique_ptr<UsbInQueue> openInQueue(DeviceHandle device) override;
    UsbTransfer stringDescriptor(DeviceHandle device, UsbString which,
                                 std::span<std::uint8_t> buffer) override {
        return inner_.stringDescriptor(device, which, buffer);
    }
    UsbStatus resetPipe(DeviceHandle device, bool in) override {
        return inner_.resetPipe(device, in);
    }
    void cancel(DeviceHandle device) override { inner_.cancel(device); }
    bool waitForRemoval(const std::string& location, StopToken stop) override {
        return inner_.waitForRemoval(location, std::move(stop));
    }

    double insideMs() const { return *insideMs_; }
    std::uint64_t transfers() const { return *transfers_; }
    void reset() {
        *insideMs_ = 0;
        *transfers_ = 0;
    }

private:
    UsbPort& inner_;
    // Shared with the queues, which add their own calls.
    std::shared_ptr<double> insideMs_ = std::make_shared<double>(0);
    std::shared_ptr<std::uint64_t> transfers_ = std::make_shared<std::uint64_t>(0);
};

}  // namespace norvale::bench
