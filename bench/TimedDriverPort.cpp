// Processor time spent below the driver seam, summed over requests.
#include "TimedDriverPort.h"

#include "CpuClock.h"

namespace norvale::bench {

ControlResult TimedDriverPort::control(DeviceHandle device, std::uint32_t code,
                                       std::span<const std::uint8_t> input,
                                       std::span<std::uint8_t> output, std::uint32_t waitMs) {
    const double started = threadCpuMs();
    const ControlResult result = inner_.control(device, code, input, output, waitMs);
    insideMs_ += threadCpuMs() - started;
    ++requests_;
    return result;
}

}  // namespace norvale::bench
