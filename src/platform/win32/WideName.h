// A narrow file name as the wide API takes it, and back.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace norvale {

// `name` read in `codePage` (CP_UTF8 for the station and the command line, CP_ACP for the dialog,
// which shows names in its Windows-1251 log as the system gave them). Bytes that are no text in
// that code page give nullopt: such a name is refused, never opened as some other, existing
// file.
std::optional<std::wstring> wideName(std::string_view name, UINT codePage);

// A name the system gave in UTF-16, as UTF-8.
std::string utf8Name(std::wstring_view name);

// Whether `text` is well-formed UTF-8.
bool isUtf8(std::string_view text);

}  // namespace norvale
