// Processor time spent below the USB seam, summed over transfers and queue calls.
#include "TimedUsbPort.h"

#include <utility>

#include "CpuClock.h"

namespace norvale::bench {
namespace {

// Adds the calling thread's processor time during its own lifetime to a total.
class Inside {
public:
    explicit Inside(double& total) : total_(total), started_(threadCpuMs()) {}
    ~Inside() { total_ += threadCpuMs() - started_; }
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;

private:
    double& total_;
    double started_;
};

class TimedInQueue final : public UsbInQueue {
public:
    TimedInQueue(std::unique_ptr<UsbInQueue> inner, std::shared_ptr<double> insideMs,
                 std::shared_ptr<std::uint64_t> transfers)
        : inner_(std::move(inner)),
          insideMs_(std::move(insideMs)),
          transfers_(std::move(transfers)) {}
    ~TimedInQueue() override {
        const Inside inside(*insideMs_);
        inner_.reset();
    }
    TimedInQueue(const TimedInQueue&) = delete;
    TimedInQueue& operator=(const TimedInQueue&) = delete;

    bool submit(std::uint32_t size) override {
        const Inside inside(*insideMs_);
        ++*transfers_;
        return inner_->submit(size);
    }
    UsbReaped reap(std::uint32_t waitMs) override {
        const Inside inside(*insideMs_);
        return inner_->reap(waitMs);
    }

private:
    std::unique_ptr<UsbInQueue> inner_;
    std::shared_ptr<double> insideMs_;
    std::shared_ptr<std::uint64_t> transfers_;
};

}  // namespace

UsbTransfer TimedUsbPort::bulkOut(DeviceHandle device, std::span<const std::uint8_t> data,
                                  std::uint32_t waitMs) {
    const Inside inside(*insideMs_);
    ++*transfers_;
    return inner_.bulkOut(device, data, waitMs);
}

UsbTransfer TimedUsbPort::bulkIn(DeviceHandle device, std::span<std::uint8_t> buffer,
                                 std::uint32_t waitMs) {
    const Inside inside(*insideMs_);
    ++*transfers_;
    return inner_.bulkIn(device, buffer, waitMs);
}

std::unique_ptr<UsbInQueue> TimedUsbPort::openInQueue(DeviceHandle device) {
    std::unique_ptr<UsbInQueue> queue;
    {
        const Inside inside(*insideMs_);
        queue = inner_.openInQueue(device);
    }
    if (!queue) return nullptr;
    return std::make_unique<TimedInQueue>(std::move(queue), insideMs_, transfers_);
}

}  // namespace norvale::bench
