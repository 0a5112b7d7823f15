// Fuzzes the string reply decoding with any unit count and transferred count.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/DriverPhoneLink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::uint32_t transferred = 0;
    std::memcpy(&transferred, data, 4);
    std::vector<std::uint8_t> buffer(norvale::kStringReplyBufferSize, 0);
    std::memcpy(buffer.data(), data + 4, std::min(size - 4, buffer.size()));
    const std::string text = norvale::decodeStringReply(buffer, transferred);
    if (text.size() > norvale::kMaxStringUnits) std::abort();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<std::uint8_t>(text[i]) != buffer[4 + 2 * i]) std::abort();
    }
    return 0;
}
