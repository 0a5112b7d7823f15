// Messages as norvale-cli prints them: UTF-8, in Russian or in English.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/Message.h"
#include "core/MessageCatalogue.h"

namespace norvale {

// Converts text in the system's narrow encoding (file names from the command line) to UTF-8.
using NativeToUtf8 = std::function<std::string(std::string_view)>;

// The lines of `message` as UTF-8, joined by "\n", without a final line end: the catalogue's text
// in `language` (an error after "ОШИБКА - " or "ERROR - "); names through `native`; the phone's
// and KESTRIN.ini's bytes, which the dialog shows as Windows-1251, decoded from it.
std::string consoleText(const Message& message, Language language, const NativeToUtf8& native);

}  // namespace norvale
