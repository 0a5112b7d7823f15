// JSON string literals from text that may come from anywhere (a phone, a file name).
#pragma once

#include <string>
#include <string_view>

namespace norvale {

// `utf8` quoted as a JSON string: '"', '\' and the control characters escaped (U+0000 to U+001F
// and U+007F as \u00XX, or their short forms \n, \r, \t), everything else as it is. A byte that
// does not begin a well-formed UTF-8 sequence (a torn or foreign one) becomes U+FFFD, so the
// result is valid JSON whatever the text held.
std::string jsonString(std::string_view utf8);

}  // namespace norvale
