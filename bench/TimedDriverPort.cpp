// Time spent below the driver seam, summed over requests.
#include "TimedDriverPort.h"

namespace norvale::bench {

ControlResult TimedDriverPort::control(DeviceHandle device, std::uint32_t code,
                                       std::span<const std::uint8_t> input,
                                       std::span<std::uint8_t> output, std::uint32_t waitMs) {
    const auto started = std::chrono::steady_clock::now();
    const ControlResult result = inner_.control(device, code, input, output, waitMs);
    inside_ += std::chrono::steady_clock::now() - started;
    ++requests_;
    return result;
}

}  // namespace norvale::bench
