// The driver road: pipe write, pipe read and string query records over the driver seam.
#include "protocol/DriverPhoneLink.h"

#include <algorithm>
#include <array>

namespace norvale {
namespace {

void putLittleEndian32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value >> 16);
    out[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t getLittleEndian32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
           (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

// The driver is handed one read at a time, whatever the caller streams: how the maker's driver
// would treat several reads in flight is not known. So a reply costs exactly what readPipe()
// costs, minus the allocation of its bytes.
class DriverReplyStream final : public ReplyStream {
public:
    DriverReplyStream(DriverPort& driver, DeviceHandle device, std::uint8_t pipe,
                      std::uint32_t maxBytes, std::uint32_t waitMs)
        : driver_(driver),
          device_(device),
          record_(buildPipeReadRecord(pipe, maxBytes)),
          maxBytes_(maxBytes),
          waitMs_(waitMs) {}

    StreamedReply next(std::span<std::uint8_t> buffer) override {
        if (ended_) return {};
        // Cleared for every read, so a driver that claims more than it wrote shows zeros, never
        // the bytes of the reply before.
        reply_.fill(0);
        const ControlResult result =
            driver_.control(device_, kIoctlPipeRead, record_, reply_, waitMs_);
        if (!result.completed) {
            ended_ = true;
            return {};
        }
        const auto data = readReplyData(reply_, result.transferred, maxBytes_);
        const std::size_t length = std::min(data.size(), buffer.size());
        std::copy_n(data.begin(), length, buffer.begin());
        return {true, length};
    }

private:
    DriverPort& driver_;
    DeviceHandle device_;
    std::array<std::uint8_t, 5> record_;
    std::uint32_t maxBytes_;
    std::uint32_t waitMs_;
    std::array<std::uint8_t, kReadReplyBufferSize> reply_{};
    bool ended_ = false;
};

}  // namespace

Bytes buildPipeWriteRecord(std::uint8_t pipe, std::span<const std::uint8_t> data) {
    Bytes record(data.size() + kWriteRecordOverhead);
    record[0] = pipe;
    putLittleEndian32(record.data() + 1, static_cast<std::uint32_t>(data.size()));
    std::copy(data.begin(), data.end(), record.begin() + 5);
    record.back() = kWriteRecordTrailer;
    return record;
}

std::array<std::uint8_t, 5> buildPipeReadRecord(std::uint8_t pipe, std::uint32_t maxBytes) {
    std::array<std::uint8_t, 5> record{pipe};
    putLittleEndian32(record.data() + 1, maxBytes);
    return record;
}

std::span<const std::uint8_t> readReplyData(std::span<const std::uint8_t> buffer,
                                            std::uint32_t transferred, std::uint32_t maxBytes) {
    // A driver that reports more than it was given room for is not believed past the buffer.
    const std::size_t delivered = transferred < buffer.size() ? transferred : buffer.size();
    if (delivered < kReadReplyPrefixSize) return {};
    std::size_t length = delivered - kReadReplyPrefixSize;
    if (length > maxBytes) length = maxBytes;
    return buffer.subspan(kReadReplyPrefixSize, length);
}

Bytes decodeReadReply(std::span<const std::uint8_t> buffer, std::uint32_t transferred,
                      std::uint32_t maxBytes) {
    const auto data = readReplyData(buffer, transferred, maxBytes);
    return Bytes(data.begin(), data.end());
}

std::string decodeStringReply(std::span<const std::uint8_t> buffer, std::uint32_t transferred) {
    const std::size_t delivered = transferred < buffer.size() ? transferred : buffer.size();
    if (delivered < 4) return {};
    std::size_t units = getLittleEndian32(buffer.data());
    const std::size_t held = (delivered - 4) / 2;
    if (units > held) units = held;
    if (units > kMaxStringUnits) units = kMaxStringUnits;
    std::string text(units, '\0');
    // Characters above U+00FF keep only their low byte: the identifying strings are ASCII.
    for (std::size_t i = 0; i < units; ++i) text[i] = static_cast<char>(buffer[4 + 2 * i]);
    return text;
}

bool DriverPhoneLink::writePipe(DeviceHandle device, std::uint8_t pipe,
                                std::span<const std::uint8_t> data, std::uint32_t waitMs) const {
    const Bytes record = buildPipeWriteRecord(pipe, data);
    return driver_.control(device, kIoctlPipeWrite, record, {}, waitMs).completed;
}

ReadReply DriverPhoneLink::readPipe(DeviceHandle device, std::uint8_t pipe, std::uint32_t maxBytes,
                                    std::uint32_t waitMs) const {
    const auto record = buildPipeReadRecord(pipe, maxBytes);
    std::array<std::uint8_t, kReadReplyBufferSize> reply{};
    const ControlResult result = driver_.control(device, kIoctlPipeRead, record, reply, waitMs);
    if (!result.completed) return {};
    return {true, decodeReadReply(reply, result.transferred, maxBytes)};
}

std::unique_ptr<ReplyStream> DriverPhoneLink::openReplies(DeviceHandle device, std::uint8_t pipe,
                                                          std::uint64_t /*totalBytes*/,
                                                          std::uint32_t maxBytes,
                                                          std::uint32_t waitMs) const {
    return std::make_unique<DriverReplyStream>(driver_, device, pipe, maxBytes, waitMs);
}

StringReply DriverPhoneLink::queryString(DeviceHandle device, std::uint16_t selector) const {
    const std::array<std::uint8_t, 2> input{static_cast<std::uint8_t>(selector),
                                            static_cast<std::uint8_t>(selector >> 8)};
    std::array<std::uint8_t, kStringReplyBufferSize> reply{};
    const ControlResult result =
        driver_.control(device, kIoctlGetString, input, reply, kStringQueryWaitMs);
    if (!result.completed) return {};
    return {true, decodeStringReply(reply, result.transferred)};
}

}  // namespace norvale
