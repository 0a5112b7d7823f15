// Paged memory: a page is materialised from the erased pattern on its first write.
#include "SparseMemory.h"

#include <algorithm>

namespace norvale {

std::uint8_t SparseMemory::byte(std::uint32_t address) const {
    const auto page = pages_.find(address / kPageSize);
    if (page == pages_.end()) return erasedAt(address);
    return (*page->second)[address % kPageSize];
}

void SparseMemory::read(std::uint32_t address, std::span<std::uint8_t> out) const {
    std::size_t done = 0;
    while (done < out.size()) {
        const std::uint32_t at = address + static_cast<std::uint32_t>(done);
        const std::size_t inPage =
            std::min<std::size_t>(kPageSize - at % kPageSize, out.size() - done);
        const auto page = pages_.find(at / kPageSize);
        if (page == pages_.end()) {
            for (std::size_t i = 0; i < inPage; ++i) {
                out[done + i] = erasedAt(at + static_cast<std::uint32_t>(i));
            }
        } else {
            const auto first = page->second->begin() + at % kPageSize;
            std::copy(first, first + static_cast<std::ptrdiff_t>(inPage),
                      out.begin() + static_cast<std::ptrdiff_t>(done));
        }
        done += inPage;
    }
}

void SparseMemory::write(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::uint32_t at = address + static_cast<std::uint32_t>(done);
        const std::size_t inPage =
            std::min<std::size_t>(kPageSize - at % kPageSize, bytes.size() - done);
        Page& page = pageFor(at);
        std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(done),
                  bytes.begin() + static_cast<std::ptrdiff_t>(done + inPage),
                  page.begin() + at % kPageSize);
        done += inPage;
    }
}

SparseMemory::Page& SparseMemory::pageFor(std::uint32_t address) {
    const std::uint32_t number = address / kPageSize;
    auto& page = pages_[number];
    if (!page) {
        page = std::make_unique<Page>();
        const std::uint32_t base = number * kPageSize;
        for (std::uint32_t i = 0; i < kPageSize; ++i) (*page)[i] = erasedAt(base + i);
    }
    return *page;
}

}  // namespace norvale
