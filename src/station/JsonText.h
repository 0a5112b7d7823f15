// Text as a JSON string, for the command line's --json documents.
#pragma once

#include <string>
#include <string_view>

namespace norvale {

// `utf8` quoted as a JSON string: '"', '\' and the control characters escaped (U+0000 to U+001F
// and U+007F as \u00XX, or their short forms), everything else as it is. A byte that does not
// begin a well-formed UTF-8 sequence becomes U+FFFD, so the document is valid whatever the text
// held.
std::string jsonString(std::string_view utf8);

}  // namespace norvale
