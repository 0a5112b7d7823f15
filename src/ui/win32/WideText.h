// UTF-8 and the system's ANSI code page to UTF-16 and back, for the station window's W calls.
#pragma once

#include <string>
#include <string_view>

namespace norvale {

std::wstring wideFromUtf8(std::string_view text);
std::string utf8FromWide(std::wstring_view text);
// Paths: the file bindings open them with the A calls, in the system's ANSI code page.
std::wstring wideFromAnsi(std::string_view text);
// Characters the ANSI code page has no form for become '?': such a path can't be opened by the
// A calls, and the open fails with its own error line.
std::string ansiFromWide(std::wstring_view text);

}  // namespace norvale
