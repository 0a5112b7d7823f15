// JSON string literals from text that may come from anywhere (a phone, a file name).
#pragma once

#include <string>
#include <string_view>

namespace norvale {

// Appends `utf8` to `out` as a JSON string, quotes included: '"' and '\' escaped, control
// characters as \n, \r, \t, \b, \f or \u00XX, everything else as it is. Bytes that are no valid
// UTF-8 (a torn or foreign sequence) become U+FFFD, so the result is always valid JSON text.
void appendJsonString(std::string& out, std::string_view utf8);

}  // namespace norvale
