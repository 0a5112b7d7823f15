// Windows-1251 text to UTF-16 and back.
#include "ui/win32/Cp1251Wide.h"

#include <windows.h>

namespace norvale {

namespace {
constexpr UINT kCp1251 = 1251;
}

std::wstring wideFromCp1251(std::string_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(kCp1251, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(kCp1251, 0, text.data(), length, wide.data(), units);
    return wide;
}

std::string cp1251FromWide(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(kCp1251, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(kCp1251, 0, text.data(), length, narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}

}  // namespace norvale
