// Fuzzes the read reply decoding with any buffer content, transferred count and request size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/DriverPhoneLink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    std::uint32_t transferred = 0;
    std::uint32_t maxBytes = 0;
    std::memcpy(&transferred, data, 4);
    std::memcpy(&maxBytes, data + 4, 4);
    // The driver's buffer is always 4101 bytes; what it holds is whatever the driver left there.
    std::vector<std::uint8_t> buffer(norvale::kReadReplyBufferSize, 0);
    std::memcpy(buffer.data(), data + 8, std::min(size - 8, buffer.size()));
    const norvale::Bytes reply = norvale::decodeReadReply(buffer, transferred, maxBytes);
    if (reply.size() > maxBytes) std::abort();
    if (reply.size() + norvale::kReadReplyPrefixSize > buffer.size()) std::abort();
    if (!reply.empty() && std::memcmp(reply.data(), buffer.data() + 4, reply.size()) != 0)
        std::abort();
    if (transferred < 4 && !reply.empty()) std::abort();
    return 0;
}
