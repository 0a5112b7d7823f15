// The driver road where the phone maker's driver does not exist (Linux): no interfaces at all.
#pragma once

#include "platform/DriverPort.h"
#include "platform/InterfaceEnumerator.h"
#include "platform/RemovalWatch.h"

namespace norvale {

// The interface set can't be opened, so no phone is ever found on this road, nothing is opened
// and no request is ever made; one that were would fail.
class NoDriverRoad final : public DriverPort, public InterfaceEnumerator, public RemovalWatch {
public:
    ControlResult control(DeviceHandle /*device*/, std::uint32_t /*code*/,
                          std::span<const std::uint8_t> /*input*/,
                          std::span<std::uint8_t> /*output*/, std::uint32_t /*waitMs*/) override {
        return {};
    }
    void cancel(DeviceHandle /*device*/) override {}
    DeviceSet openSet() override { return {}; }
    std::optional<InterfaceRef> member(DeviceSet /*set*/, std::uint32_t /*index*/) override {
        return std::nullopt;
    }
    DetailSizeResult detailSize(DeviceSet /*set*/, const InterfaceRef& /*member*/) override {
        return {};
    }
    std::optional<std::string> devicePath(DeviceSet /*set*/, const InterfaceRef& /*member*/,
                                          std::uint32_t /*requiredSize*/) override {
        return std::nullopt;
    }
    std::string location(DeviceSet /*set*/, const InterfaceRef& /*member*/) override { return {}; }
    void closeSet(DeviceSet /*set*/) override {}
    DeviceHandle open(const std::string& /*devicePath*/) override { return kInvalidDevice; }
    void close(DeviceHandle /*device*/) override {}
    bool waitForChange(const std::string& /*keyPath*/, StopToken /*stop*/) override {
        return false;
    }
};

}  // namespace norvale
