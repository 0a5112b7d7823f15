// Narrow names to UTF-16 and back, refusing bytes that are no text.
#include "platform/win32/WideName.h"

namespace norvale {

std::optional<std::wstring> wideName(std::string_view name, UINT codePage) {
    if (name.empty()) return std::wstring();
    // MB_ERR_INVALID_CHARS is refused by some code pages (the ANSI ones among them take every
    // byte anyway); only UTF-8 needs it.
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int length = static_cast<int>(name.size());
    const int units = MultiByteToWideChar(codePage, flags, name.data(), length, nullptr, 0);
    if (units <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    if (MultiByteToWideChar(codePage, flags, name.data(), length, wide.data(), units) != units) {
        return std::nullopt;
    }
    return wide;
}

std::string utf8Name(std::wstring_view name) {
    if (name.empty()) return {};
    const int length = static_cast<int>(name.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, name.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, name.data(), length, narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}

bool isUtf8(std::string_view text) {
    return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                               static_cast<int>(text.size()), nullptr, 0) > 0;
}

}  // namespace norvale
