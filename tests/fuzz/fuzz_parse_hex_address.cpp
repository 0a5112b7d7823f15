// Fuzzes the address-field parser: any text, and the value must match a plain re-reading.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/CommandFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::uint32_t value = norvale::parseHexAddress(text);
    std::uint64_t expected = 0;
    for (std::size_t i = 0; i < size && i < 8; ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) break;
        expected = expected * 16 + static_cast<std::uint64_t>(digit);
    }
    if (value != expected) std::abort();
    // What formatHexAddress writes, parseHexAddress reads back.
    if (norvale::parseHexAddress(norvale::formatHexAddress(value)) != value) std::abort();
    return 0;
}
