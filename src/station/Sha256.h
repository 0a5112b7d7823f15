// SHA-256, for the checksums file of a backup.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace norvale {

// The hash of FIPS 180-4 (the same as 180-2's), fed in pieces of any size.
class Sha256 {
public:
    Sha256();
    void update(std::span<const std::uint8_t> bytes);
    // The digest of everything fed so far; the object is used up afterwards.
    std::array<std::uint8_t, 32> finish();
    // finish() as 64 lower-case hex digits, as sha256sum prints it.
    std::string finishHex();

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingSize_ = 0;
    std::uint64_t totalBytes_ = 0;
};

// The digest of `bytes` as 64 lower-case hex digits, as sha256sum prints it.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace norvale
