// Every byte sequence the tool sends to the phone, and the address text conversions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvale {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kRs = 0x1E;
inline constexpr std::uint8_t kEtx = 0x03;

inline constexpr std::size_t kAddrPacketSize = 17;
inline constexpr std::size_t kMaxBinData = 2048;
// What a BIN packet adds to its data: STX "BIN" RS, two length bytes, the sum, ETX.
inline constexpr std::size_t kBinPacketFraming = 9;

// Framed commands that the phone's boot ROM answers before any loader runs.
inline constexpr std::array<std::uint8_t, 6> rqhwPacket{kStx, 'R', 'Q', 'H', 'W', kEtx};
inline constexpr std::array<std::uint8_t, 6> enumPacket{kStx, 'E', 'N', 'U', 'M', kEtx};

// Single-byte commands of the uploaded loader.
enum class LoaderCommand : std::uint8_t {
    ramLoader = 'A',  // before the RAM loader image; also the second byte of the start command
    blank = 'B',
    flash = 'F',
    start = 'S',
    end = 'Z',
};

// STX "ADDR" RS, the address as "%08X", the 8-bit sum of those eight characters as "%02X", ETX.
std::array<std::uint8_t, kAddrPacketSize> buildAddrPacket(std::uint32_t address);

// STX "BIN" RS, the length big-endian in two bytes, the data, the 8-bit sum of the length bytes
// and the data, ETX. `data` holds 1 to 2048 bytes.
Bytes buildBinPacket(std::span<const std::uint8_t> data);

std::array<std::uint8_t, 1> commandByte(LoaderCommand command);

// The flash address argument of 'F': four bytes, big-endian.
std::array<std::uint8_t, 4> encodeAddress(std::uint32_t address);

// 'R', start big-endian, count big-endian.
std::array<std::uint8_t, 9> buildReadRequest(std::uint32_t start, std::uint32_t count);

// Reads up to eight hex digits of either case from the start of `text`; the first other
// character ends the number, and an empty text or one starting with a non-digit gives 0.
std::uint32_t parseHexAddress(std::string_view text);

// The whole text must be 1 to 8 hex digits of either case ("1001FFFF", "3000"); anything else is
// no address. For texts typed where a wrong address must be refused, not read as far as it goes.
std::optional<std::uint32_t> parseStrictHexAddress(std::string_view text);

// Eight uppercase hex digits, zero-padded.
std::string formatHexAddress(std::uint32_t value);

}  // namespace norvale
