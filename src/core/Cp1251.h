// Compile-time conversion of UTF-8 source literals to Windows-1251 bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace norvale {

// A Windows-1251 text made from a UTF-8 literal while compiling, so the operator texts read as
// Russian in the source yet are exactly the bytes the log and status bar show. Only ASCII, the
// basic Cyrillic letters and Ё/ё occur in the tool's texts; any other character stops the build.
template <std::size_t N>
class Cp1251Text {
public:
    consteval Cp1251Text(const char8_t (&utf8)[N]) {  // NOLINT(google-explicit-constructor)
        std::size_t i = 0;
        while (i + 1 < N) {  // the last element is the literal's terminator
            const unsigned lead = utf8[i];
            if (lead < 0x80) {
                bytes_[size_++] = static_cast<char>(lead);
                i += 1;
                continue;
            }
            if ((lead & 0xE0) != 0xC0 || i + 2 >= N) throw "only 2-byte UTF-8 sequences occur";
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
            bytes_[size_++] = static_cast<char>(byte);
            i += 2;
        }
    }

    constexpr std::string_view view() const { return {bytes_, size_}; }
    // NOLINTNEXTLINE(google-explicit-constructor)
    constexpr operator std::string_view() const { return view(); }
    std::string str() const { return std::string(view()); }

private:
    char bytes_[N]{};
    std::size_t size_ = 0;
};

}  // namespace norvale
