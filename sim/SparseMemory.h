// A 32-bit address space stored in 4 KB pages that exist only once written.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>

namespace norvale {

// What a byte holds until it is written: a pure function of its address, so an untouched
// 64 MB flash costs nothing and several phones fit in one small process.
using ErasedByte = std::uint8_t (*)(std::uint32_t address);

class SparseMemory {
public:
    // Unwritten bytes read as erased(address) ^ mask.
    explicit SparseMemory(ErasedByte erased, std::uint8_t mask = 0)
        : erased_(erased), mask_(mask) {}

    std::uint8_t byte(std::uint32_t address) const;
    // `out.size()` bytes from `address`; addresses wrap at 2^32.
    void read(std::uint32_t address, std::span<std::uint8_t> out) const;
    void write(std::uint32_t address, std::span<const std::uint8_t> bytes);
    void clear() { pages_.clear(); }
    std::size_t pagesHeld() const { return pages_.size(); }

    static constexpr std::uint32_t kPageSize = 4096;

private:
    using Page = std::array<std::uint8_t, kPageSize>;
    Page& pageFor(std::uint32_t address);

    std::uint8_t erasedAt(std::uint32_t address) const {
        return static_cast<std::uint8_t>(erased_(address) ^ mask_);
    }

    ErasedByte erased_;
    std::uint8_t mask_;
    std::unordered_map<std::uint32_t, std::unique_ptr<Page>> pages_;
};

}  // namespace norvale
