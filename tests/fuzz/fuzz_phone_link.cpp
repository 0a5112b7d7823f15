// Fuzzes PhoneLink itself over a driver that answers anything: any completion, any transferred
// count (also more than the buffer), any unit count, any bytes. The link must hand back exactly
// what the reply's prefix and the counts allow, never read past its buffers, and build its
// records as the driver expects them.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "protocol/DriverPhoneLink.h"

namespace {

using norvale::ControlResult;
using norvale::DeviceHandle;

// Input: one control byte (bit 0: completed; bit 1: a string query, bit 2: a write, else a
// read), the transferred count (4 bytes), maxBytes (4 bytes), then what the driver leaves in the
// buffer, or the data of the write.
std::uint32_t littleEndian32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
           (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

struct Answer {
    bool completed = false;
    std::uint32_t transferred = 0;
    std::span<const std::uint8_t> content;
};

class AnyDriver final : public norvale::DriverPort {
public:
    explicit AnyDriver(Answer answer) : answer_(answer) {}

    ControlResult control(DeviceHandle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t) override {
        if (code == norvale::kIoctlPipeWrite) {
            // Pipe, data length little-endian, the data, one trailing byte; no reply buffer.
            const std::size_t length = answer_.content.size();
            if (input.size() != length + 6 || !output.empty() || input[0] != 2) std::abort();
            if (littleEndian32(input.data() + 1) != length) std::abort();
            if (!std::equal(answer_.content.begin(), answer_.content.end(), input.begin() + 5)) {
                std::abort();
            }
            return {answer_.completed, answer_.transferred};
        }
        if (code == norvale::kIoctlPipeRead) {
            if (input.size() != 5 || output.size() != norvale::kReadReplyBufferSize) std::abort();
        } else if (code == norvale::kIoctlGetString) {
            if (input.size() != 2 || output.size() != norvale::kStringReplyBufferSize) std::abort();
        } else {
            std::abort();
        }
        // The buffer comes zeroed from the link; the driver overwrites what it likes.
        for (const std::uint8_t byte : output) {
            if (byte != 0) std::abort();
        }
        std::copy_n(answer_.content.begin(), std::min(answer_.content.size(), output.size()),
                    output.begin());
        return {answer_.completed, answer_.transferred};
    }
    void cancel(DeviceHandle) override {}

private:
    Answer answer_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) return 0;
    const bool completed = (data[0] & 1) != 0;
    const bool stringQuery = (data[0] & 2) != 0;
    const std::uint32_t transferred = littleEndian32(data + 1);
    const std::uint32_t maxBytes = littleEndian32(data + 5);
    const std::span<const std::uint8_t> content(data + 9, size - 9);
    AnyDriver driver({completed, transferred, content});
    const norvale::DriverPhoneLink link(driver);

    // The buffer the driver saw, as the link's decoding sees it.
    const auto bufferByte = [&](std::size_t at) -> std::uint8_t {
        return at < content.size() ? content[at] : 0;
    };

    if ((data[0] & 4) != 0) {
        if (link.writePipe(DeviceHandle{0x100}, 2, content, 0) != completed) std::abort();
        return 0;
    }
    if (stringQuery) {
        const norvale::StringReply reply = link.queryString(DeviceHandle{0x100}, 0x0103);
        if (reply.completed != completed) std::abort();
        std::size_t expected = 0;
        const std::size_t delivered =
            std::min<std::size_t>(transferred, norvale::kStringReplyBufferSize);
        if (completed && delivered >= 4) {
            const std::uint32_t units = littleEndian32(std::array<std::uint8_t, 4>{
                bufferByte(0), bufferByte(1), bufferByte(2), bufferByte(3)}
                                                           .data());
            expected =
                std::min<std::size_t>({units, (delivered - 4) / 2, norvale::kMaxStringUnits});
        }
        if (reply.text.size() != expected) std::abort();
        for (std::size_t i = 0; i < expected; ++i) {
            if (static_cast<std::uint8_t>(reply.text[i]) != bufferByte(4 + 2 * i)) std::abort();
        }
        return 0;
    }

    const norvale::ReadReply reply = link.readPipe(DeviceHandle{0x100}, 2, maxBytes, 0);
    if (reply.completed != completed) std::abort();
    std::size_t expected = 0;
    const std::size_t delivered = std::min<std::size_t>(transferred, norvale::kReadReplyBufferSize);
    if (completed && delivered >= norvale::kReadReplyPrefixSize) {
        expected = std::min<std::size_t>(delivered - norvale::kReadReplyPrefixSize, maxBytes);
    }
    if (reply.data.size() != expected) std::abort();
    for (std::size_t i = 0; i < expected; ++i) {
        if (reply.data[i] != bufferByte(norvale::kReadReplyPrefixSize + i)) std::abort();
    }
    return 0;
}
