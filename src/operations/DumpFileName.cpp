// Dump names: the known regions by value, else the field texts in a fixed 22-character layout.
#include "operations/DumpFileName.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace norvale {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

namespace {

struct NamedRange {
    std::uint32_t start;
    std::uint32_t end;
    const char* name;
};

// Tried in order; the first row whose values both match names the file.
constexpr std::array<NamedRange, 9> kNamedRanges{{
    {0x10000000, 0x1000FFFF, "Boot.bin"},
    {0x10010000, 0x1001FFFF, "PDS.bin"},
    {0x10020000, 0x1003FFFF, "Panic.bin"},
    {0x10040000, 0x10091FFF, "CG3.bin"},
    {0x10040000, 0x1009FFFF, "CG3.bin"},
    {0x100A0000, 0x1135FFFF, "CG1.bin"},
    {0x11FE0000, 0x11FFFFFF, "CG18.bin"},
    {0x12FE0000, 0x12FFFFFF, "CG18.bin"},
    {0x13FE0000, 0x13FFFFFF, "CG18.bin"},
}};

constexpr std::size_t kFieldChars = 8;

// Copies at most eight characters of `text` to `at` and ends them with a terminator.
void putText(std::array<char, 22>& layout, std::size_t at, std::string_view text) {
    const std::size_t n = std::min(text.size(), kFieldChars);
    std::copy_n(text.begin(), n, layout.begin() + static_cast<std::ptrdiff_t>(at));
    layout[at + n] = '\0';
}

constexpr std::array<std::string_view, 4> kDeviceNames{"CON", "PRN", "AUX", "NUL"};
constexpr std::array<std::string_view, 2> kNumberedDeviceNames{"COM", "LPT"};

// Windows treats "NUL", "nul.bin" and "COM1.txt" alike: the part before the first dot decides.
bool isDeviceName(std::string_view name) {
    const std::string_view stem = name.substr(0, name.find('.'));
    for (const std::string_view device : kDeviceNames) {
        if (equalsIgnoringCase(stem, device)) return true;
    }
    if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9') {
        for (const std::string_view device : kNumberedDeviceNames) {
            if (equalsIgnoringCase(stem.substr(0, 3), device)) return true;
        }
    }
    return false;
}

}  // namespace

bool isPlainFileName(std::string_view name) {
    if (name.empty()) return false;
    constexpr std::string_view kRefused = "\\/:*?\"<>|";
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || kRefused.find(c) != std::string_view::npos) {
            return false;
        }
    }
    return !isDeviceName(name);
}

std::string dumpFileName(std::string_view startText, std::string_view endText, std::uint32_t start,
                         std::uint32_t end) {
    for (const NamedRange& range : kNamedRanges) {
        if (range.start == start && range.end == end) return range.name;
    }
    // Written in this order so that a full text's terminator is overwritten by what follows it.
    std::array<char, 22> layout{};
    putText(layout, 0, startText);
    layout[8] = '-';
    putText(layout, 9, endText);
    constexpr std::string_view kExtension = ".bin";
    std::copy(kExtension.begin(), kExtension.end(), layout.begin() + 17);
    layout[21] = '\0';
    const auto terminator = std::find(layout.begin(), layout.end(), '\0');
    return std::string(layout.begin(), terminator);
}

}  // namespace norvale
