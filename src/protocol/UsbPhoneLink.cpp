// The USB road's three operations over the bulk endpoints and the string descriptors.
#include "protocol/UsbPhoneLink.h"

#include <algorithm>
#include <array>
#include <deque>
#include <optional>
#include <vector>

namespace norvale {
namespace {

constexpr std::uint8_t kStringDescriptorType = 3;
// bLength is one byte: a string descriptor is never longer.
constexpr std::size_t kStringDescriptorMax = 255;

// The wait for the next transfer of one reply, which began at `startMs`. The first transfer is
// given the whole limit: time that passed before the phone was even asked (a thread that lost the
// processor, a machine that slept) is no silence of the phone's. After a zero-length packet the
// reply must come within what is left of the limit; nothing when none is.
std::optional<std::uint32_t> replyWaitLeft(bool asked, std::uint64_t startMs, std::uint64_t nowMs,
                                           std::uint32_t limit) {
    if (!asked) return limit;
    const std::uint64_t elapsed = nowMs - startMs;
    if (elapsed >= limit) return std::nullopt;
    return static_cast<std::uint32_t>(limit - elapsed);
}

// Reads the IN pipe until a short wait brings nothing (or the device has gone): what is left of
// a reply cut by its wait time, so the next command starts clean.
void drainIn(UsbPort& usb, DeviceHandle device) {
    const std::uint32_t size = bulkInRequestSize(kUsbDrainBytes, usb.maxPacketSize(device));
    if (size == 0) return;
    std::vector<std::uint8_t> buffer(size);
    for (std::size_t read = 0; read < kUsbDrainReads; ++read) {
        const UsbTransfer got = usb.bulkIn(device, buffer, kUsbDrainWaitMs);
        if (got.transferred == 0) return;
        if (got.status != UsbStatus::done && got.status != UsbStatus::timedOut) return;
    }
}

// After a failed transfer of `status` on a phone still attached, its pipe is reset. Not after one
// that cancel() ended (`failed`): that is a stop, which must not wait on a control request to a
// phone that may answer nothing; the next arrival opens the device afresh.
void resetAfter(UsbPort& usb, DeviceHandle device, bool in, UsbStatus status) {
    if (status == UsbStatus::done || status == UsbStatus::gone || status == UsbStatus::failed) {
        return;
    }
    usb.resetPipe(device, in);
}

// The replies of one request over a queue of bulk IN transfers. A reply is the first transfer
// that brings data; zero-length packets before it only show that the phone is there, as in
// readPipe(). Any other end of a transfer ends the stream and cancels the rest at once.
//
// Each transfer asks for what the phone still owes of the request, at most one reply (maxBytes),
// in whole packets: on a bus a transfer ends only at a full buffer or a short packet, so one
// that asked for a whole reply when the phone owes only a few whole packets would wait for
// bytes that never come. The phone's replies are maxBytes long until the last, so transfers of
// maxBytes meet them one by one and the last one asks for the rest. Where a zero-length packet
// took a transfer ahead, a later one may meet a reply part way and the next take its rest: the
// bytes still come in order, and none is asked for twice.
class UsbReplyStream final : public ReplyStream {
public:
    struct Shape {
        std::uint64_t totalBytes;
        std::uint32_t maxBytes;
        std::uint32_t packetSize;
        std::uint32_t waitMs;
        std::size_t depth;
    };
    UsbReplyStream(std::unique_ptr<UsbInQueue> queue, UsbPort& usb, DeviceHandle device,
                   Clock& clock, Shape shape)
        : queue_(std::move(queue)), usb_(usb), device_(device), clock_(clock), shape_(shape) {}

    StreamedReply next(std::span<std::uint8_t> buffer) override {
        if (!queue_) return {};
        const std::uint32_t limit = usbTransferLimit(shape_.waitMs);
        const std::uint64_t start = clock_.nowMs();
        bool sawZeroLength = false;
        for (bool asked = false;; asked = true) {
            topUp();
            const std::optional<std::uint32_t> wait =
                replyWaitLeft(asked, start, clock_.nowMs(), limit);
            if (!wait) break;
            // Nothing in flight means nothing could be started: the device has gone.
            if (planned_.empty()) return end(UsbStatus::gone);
            const UsbReaped got = queue_->reap(*wait);
            if (got.transfer.status != UsbStatus::timedOut) planned_.pop_front();
            if (got.transfer.status != UsbStatus::done) {
                if (got.transfer.status == UsbStatus::timedOut && sawZeroLength) break;
                return end(got.transfer.status);
            }
            if (got.transfer.transferred != 0) {
                const std::size_t length = std::min<std::size_t>(
                    {got.transfer.transferred, got.data.size(), shape_.maxBytes, buffer.size()});
                std::copy_n(got.data.begin(), length, buffer.begin());
                received_ += length;
                return {true, length};
            }
            // A zero-length packet (after a reply of whole packets, say) took a transfer meant
            // for data: what it was to carry is owed still, and the next transfer asks for it.
            sawZeroLength = true;
        }
        if (!sawZeroLength) return end(UsbStatus::timedOut);
        return {true, 0};
    }

private:
    // Keeps the queue as deep as allowed while the phone owes more than the transfers in flight
    // were sized for, so none is left waiting when the phone has sent the last reply and the
    // reads ahead never reach past the request. One is always started when none is in flight, as
    // a lone readPipe() would read (a whole reply, if the request is already served).
    void topUp() {
        while (!submitFailed_ && planned_.size() < shape_.depth) {
            std::uint64_t covered = received_;
            for (const std::uint32_t bytes : planned_) covered += bytes;
            std::uint64_t owed = covered < shape_.totalBytes ? shape_.totalBytes - covered : 0;
            if (owed == 0 && !planned_.empty()) return;
            const std::uint64_t reply = std::max<std::uint32_t>(shape_.maxBytes, 1);
            if (owed == 0 || owed > reply) owed = reply;
            const auto bytes = static_cast<std::uint32_t>(owed);
            if (queue_->submit(bulkInRequestSize(bytes, shape_.packetSize))) {
                planned_.push_back(bytes);
            } else {
                submitFailed_ = true;
            }
        }
    }

    // Ends the stream after a transfer that ended with `status`: what is in flight is cancelled
    // and awaited, a failed pipe reset, and the rest of replies the phone was sending when the
    // wait ran out drained.
    StreamedReply end(UsbStatus status) {
        queue_.reset();
        if (status == UsbStatus::timedOut) {
            if (received_ > 0 && received_ < shape_.totalBytes) drainIn(usb_, device_);
        } else {
            resetAfter(usb_, device_, true, status);
        }
        return {};
    }

    std::unique_ptr<UsbInQueue> queue_;
    UsbPort& usb_;
    DeviceHandle device_;
    Clock& clock_;
    Shape shape_;
    std::uint64_t received_ = 0;
    // The bytes each transfer in flight (submitted and not yet ended) was sized for, oldest first.
    std::deque<std::uint32_t> planned_;
    bool submitFailed_ = false;
};

}  // namespace

std::uint32_t bulkInRequestSize(std::uint32_t maxBytes, std::uint32_t maxPacketSize) {
    if (maxPacketSize == 0) return 0;
    const std::uint64_t packets =
        std::max<std::uint64_t>(1, (std::uint64_t{maxBytes} + maxPacketSize - 1) / maxPacketSize);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(
        packets * maxPacketSize, 0xFFFFFFFFu / maxPacketSize * maxPacketSize));
}

std::string decodeStringDescriptor(std::span<const std::uint8_t> descriptor) {
    if (descriptor.size() < 2 || descriptor[1] != kStringDescriptorType) return {};
    // The descriptor says how long it is; believe no more than was delivered.
    const std::size_t length = std::min<std::size_t>(descriptor[0], descriptor.size());
    if (length < 2) return {};
    const std::size_t units = std::min((length - 2) / 2, kMaxStringUnits);
    std::string text(units, '\0');
    // Characters above U+00FF keep only their low byte, as on the driver road.
    for (std::size_t i = 0; i < units; ++i) text[i] = static_cast<char>(descriptor[2 + 2 * i]);
    return text;
}

bool UsbPhoneLink::writePipe(DeviceHandle device, std::uint8_t /*pipe*/,
                             std::span<const std::uint8_t> data, std::uint32_t waitMs) const {
    const UsbTransfer sent = usb_.bulkOut(device, data, usbTransferLimit(waitMs));
    resetAfter(usb_, device, false, sent.status);
    return sent.status == UsbStatus::done && sent.transferred == data.size();
}

ReadReply UsbPhoneLink::readPipe(DeviceHandle device, std::uint8_t /*pipe*/, std::uint32_t maxBytes,
                                 std::uint32_t waitMs) const {
    const std::uint32_t size = bulkInRequestSize(maxBytes, usb_.maxPacketSize(device));
    if (size == 0) return {};  // not an open device of this road
    std::vector<std::uint8_t> buffer(size);
    const std::uint32_t limit = usbTransferLimit(waitMs);
    const std::uint64_t start = clock_.nowMs();
    bool sawZeroLength = false;
    for (bool asked = false;; asked = true) {
        const std::optional<std::uint32_t> wait =
            replyWaitLeft(asked, start, clock_.nowMs(), limit);
        if (!wait) break;
        const UsbTransfer got = usb_.bulkIn(device, buffer, *wait);
        if (got.status != UsbStatus::done) {
            // A wait that ran out after the phone had answered with nothing is that answer; any
            // other end is a failed read.
            if (got.status == UsbStatus::timedOut && sawZeroLength) break;
            if (got.status == UsbStatus::timedOut) {
                if (got.transferred != 0) drainIn(usb_, device);
            } else {
                resetAfter(usb_, device, true, got.status);
            }
            return {};
        }
        if (got.transferred != 0) {
            const std::size_t length = std::min<std::size_t>({got.transferred, maxBytes, size});
            return {true,
                    Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length))};
        }
        sawZeroLength = true;
    }
    if (!sawZeroLength) return {};
    return {true, {}};
}

std::unique_ptr<ReplyStream> UsbPhoneLink::openReplies(DeviceHandle device, std::uint8_t /*pipe*/,
                                                       std::uint64_t totalBytes,
                                                       std::uint32_t maxBytes,
                                                       std::uint32_t waitMs) const {
    const std::uint32_t packet = usb_.maxPacketSize(device);
    // Not an open device of this road: a stream whose every reply fails, as readPipe() would.
    std::unique_ptr<UsbInQueue> queue = packet == 0 ? nullptr : usb_.openInQueue(device);
    return std::make_unique<UsbReplyStream>(
        std::move(queue), usb_, device, clock_,
        UsbReplyStream::Shape{totalBytes, maxBytes, packet, waitMs, readAhead_});
}

StringReply UsbPhoneLink::queryString(DeviceHandle device, std::uint16_t selector) const {
    UsbString which = UsbString::manufacturer;
    if (selector == kManufacturerStringSelector) {
        which = UsbString::manufacturer;
    } else if (selector == kProductStringSelector) {
        which = UsbString::product;
    } else {
        return {};
    }
    std::array<std::uint8_t, kStringDescriptorMax> descriptor{};
    const UsbTransfer got = usb_.stringDescriptor(device, which, descriptor);
    if (got.status != UsbStatus::done) return {};
    const std::size_t length = std::min<std::size_t>(got.transferred, descriptor.size());
    return {true, decodeStringDescriptor(std::span(descriptor).first(length))};
}

}  // namespace norvale
