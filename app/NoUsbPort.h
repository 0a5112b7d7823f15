// A USB road with no phones on it, for a program built without a USB binding.
#pragma once

#include "platform/UsbPort.h"

namespace norvale {

// Lists nothing and opens nothing; a transfer on the invalid handle it never gave out fails as a
// transfer to a device that went.
class NoUsbPort final : public UsbPort {
public:
    std::vector<std::string> listPhones() override { return {}; }
    DeviceHandle open(const std::string& /*location*/) override { return kInvalidDevice; }
    void close(DeviceHandle /*device*/) override {}
    std::uint32_t maxPacketSize(DeviceHandle /*device*/) override { return 0; }
    UsbTransfer bulkOut(DeviceHandle /*device*/, std::span<const std::uint8_t> /*data*/,
                        std::uint32_t /*waitMs*/) override {
        return {UsbStatus::gone, 0};
    }
    UsbTransfer bulkIn(DeviceHandle /*device*/, std::span<std::uint8_t> /*buffer*/,
                       std::uint32_t /*waitMs*/) override {
        return {UsbStatus::gone, 0};
    }
    UsbTransfer stringDescriptor(DeviceHandle /*device*/, UsbString /*which*/,
                                 std::span<std::uint8_t> /*buffer*/) override {
        return {UsbStatus::gone, 0};
    }
    void cancel(DeviceHandle /*device*/) override {}
    bool waitForRemoval(const std::string& /*location*/) override { return false; }
};

}  // namespace norvale
