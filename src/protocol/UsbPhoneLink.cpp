// The USB road's three operations over the bulk endpoints and the string descriptors.
#include "protocol/UsbPhoneLink.h"

#include <algorithm>
#include <array>
#include <vector>

namespace norvale {
namespace {

constexpr std::uint8_t kStringDescriptorType = 3;
// bLength is one byte: a string descriptor is never longer.
constexpr std::size_t kStringDescriptorMax = 255;

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
    for (;;) {
        const std::uint64_t elapsed = clock_.nowMs() - start;
        if (elapsed >= limit) break;
        const UsbTransfer got =
            usb_.bulkIn(device, buffer, static_cast<std::uint32_t>(limit - elapsed));
        if (got.status != UsbStatus::done) {
            // A wait that ran out after the phone had answered with nothing is that answer; any
            // other end is a failed read.
            if (got.status == UsbStatus::timedOut && sawZeroLength) break;
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
