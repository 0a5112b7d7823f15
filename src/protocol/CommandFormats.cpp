// Builders of the framed boot-ROM commands and the loader's byte arguments.
#include "protocol/CommandFormats.h"

#include <algorithm>
#include <cassert>

namespace norvale {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void putBigEndian32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

}  // namespace

std::string formatHexAddress(std::uint32_t value) {
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kHexDigits[value & 0xF];
        value >>= 4;
    }
    return text;
}

namespace {

// The value of one hex digit of either case, or nothing for any other character.
std::optional<std::uint32_t> hexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint32_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<std::uint32_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<std::uint32_t>(c - 'a' + 10);
    return std::nullopt;
}

}  // namespace

std::uint32_t parseHexAddress(std::string_view text) {
    std::uint32_t value = 0;
    const std::size_t limit = text.size() < 8 ? text.size() : 8;
    for (std::size_t i = 0; i < limit; ++i) {
        const std::optional<std::uint32_t> digit = hexDigit(text[i]);
        if (!digit) break;
        value = (value << 4) | *digit;
    }
    return value;
}

std::optional<std::uint32_t> parseStrictHexAddress(std::string_view text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        const std::optional<std::uint32_t> digit = hexDigit(c);
        if (!digit) return std::nullopt;
        value = (value << 4) | *digit;
    }
    return value;
}

std::array<std::uint8_t, kAddrPacketSize> buildAddrPacket(std::uint32_t address) {
    std::array<std::uint8_t, kAddrPacketSize> packet{kStx, 'A', 'D', 'D', 'R', kRs};
    const std::string digits = formatHexAddress(address);
    unsigned sum = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        packet[6 + i] = static_cast<std::uint8_t>(digits[i]);
        sum += static_cast<std::uint8_t>(digits[i]);
    }
    packet[14] = static_cast<std::uint8_t>(kHexDigits[(sum >> 4) & 0xF]);
    packet[15] = static_cast<std::uint8_t>(kHexDigits[sum & 0xF]);
    packet[16] = kEtx;
    return packet;
}

Bytes buildBinPacket(std::span<const std::uint8_t> data) {
    assert(!data.empty() && data.size() <= kMaxBinData);
    const auto n = static_cast<std::uint16_t>(data.size());
    const auto high = static_cast<std::uint8_t>(n >> 8);
    const auto low = static_cast<std::uint8_t>(n);
    unsigned sum = high + low;
    for (const std::uint8_t byte : data) sum += byte;
    // Sized once and filled in place: STX "BIN" RS, the length, the data, the checksum, ETX.
    Bytes packet(data.size() + kBinPacketFraming);
    const std::array<std::uint8_t, 7> head{kStx, 'B', 'I', 'N', kRs, high, low};
    const auto afterHead = std::copy(head.begin(), head.end(), packet.begin());
    const auto afterData = std::copy(data.begin(), data.end(), afterHead);
    afterData[0] = static_cast<std::uint8_t>(sum);
    afterData[1] = kEtx;
    return packet;
}

std::array<std::uint8_t, 1> commandByte(LoaderCommand command) {
    return {static_cast<std::uint8_t>(command)};
}

std::array<std::uint8_t, 4> encodeAddress(std::uint32_t address) {
    std::array<std::uint8_t, 4> bytes{};
    putBigEndian32(bytes.data(), address);
    return bytes;
}

std::array<std::uint8_t, 9> buildReadRequest(std::uint32_t start, std::uint32_t count) {
    std::array<std::uint8_t, 9> request{'R'};
    putBigEndian32(request.data() + 1, start);
    putBigEndian32(request.data() + 5, count);
    return request;
}

}  // namespace norvale
