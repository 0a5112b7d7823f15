// Windows-1251 texts: UTF-8 source literals converted while compiling, and bytes decoded to UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace norvale {

namespace cp1251_detail {

// Converts the UTF-8 literal `utf8` (n elements, its terminator last) into `out`, at most
// `capacity` bytes; the number of bytes. Only ASCII, the basic Cyrillic letters and Ё/ё occur in
// the tool's texts; any other character, or a text that does not fit, stops the build.
consteval std::size_t fromUtf8(const char8_t* utf8, std::size_t n, char* out,
                               std::size_t capacity) {
    std::size_t size = 0;
    std::size_t i = 0;
    while (i + 1 < n) {  // the last element is the literal's terminator
        if (size == capacity) throw "the text does not fit";
        const unsigned lead = utf8[i];
        if (lead < 0x80) {
            out[size++] = static_cast<char>(lead);
            i += 1;
            continue;
        }
        if ((lead & 0xE0) != 0xC0 || i + 2 >= n) throw "only 2-byte UTF-8 sequences occur";
        const unsigned cont = utf8[i + 1];
        if ((cont & 0xC0) != 0x80) throw "malformed UTF-8";
        const unsigned code = ((lead & 0x1F) << 6) | (cont & 0x3F);
        unsigned byte = 0;
        if (code >= 0x0410 && code <= 0x044F) {
            byte = code - 0x0410 + 0xC0;
        } else if (code == 0x0401) {
            byte = 0xA8;
        } else if (code == 0x0451) {
            byte = 0xB8;
        } else {
            throw "character has no Windows-1251 mapping here";
        }
        out[size++] = static_cast<char>(byte);
        i += 2;
    }
    return size;
}

}  // namespace cp1251_detail

// A Windows-1251 text made from a UTF-8 literal while compiling, so the operator texts read as
// Russian in the source yet are exactly the bytes the log and status bar show.
template <std::size_t N>
class Cp1251Text {
public:
    consteval Cp1251Text(const char8_t (&utf8)[N])  // NOLINT(google-explicit-constructor)
        : size_(cp1251_detail::fromUtf8(utf8, N, bytes_, N)) {}

    constexpr std::string_view view() const { return {bytes_, size_}; }
    // NOLINTNEXTLINE(google-explicit-constructor)
    constexpr operator std::string_view() const { return view(); }
    std::string str() const { return std::string(view()); }

private:
    char bytes_[N]{};
    std::size_t size_ = 0;
};

// The same conversion into room for `Capacity` bytes: texts of any length up to it share one
// type, so one table can hold them all.
template <std::size_t Capacity>
class BoundedCp1251Text {
public:
    template <std::size_t N>
    consteval BoundedCp1251Text(const char8_t (&utf8)[N])  // NOLINT(google-explicit-constructor)
        : size_(cp1251_detail::fromUtf8(utf8, N, bytes_, Capacity)) {}

    constexpr std::string_view view() const { return {bytes_, size_}; }

private:
    char bytes_[Capacity]{};
    std::size_t size_ = 0;
};

// Windows-1251 to UTF-8, every byte: the letters of the Cyrillic block, the punctuation of the
// upper half, and U+FFFD for the one unassigned byte.
std::string utf8FromCp1251(std::string_view text);

}  // namespace norvale
