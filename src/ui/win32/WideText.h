// UTF-8 to UTF-16 and back, for the station window's W calls.
#pragma once

#include <string>
#include <string_view>

namespace norvale {

std::wstring wideFromUtf8(std::string_view text);
std::string utf8FromWide(std::wstring_view text);

}  // namespace norvale
