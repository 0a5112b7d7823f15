// The operator's log lines as the command line prints them: UTF-8, in Russian or in English.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace norvale {

enum class Language { russian, english };

// Converts text in the system's narrow encoding (file names from the command line) to UTF-8.
using NativeToUtf8 = std::function<std::string(std::string_view)>;

// One log line (Windows-1251, with or without its "\r\n") as UTF-8 without the line end. Every
// text of OperatorTexts.h is known: in English it is translated (the operator's guide gives the
// meanings), in Russian converted. What follows a known text is its detail: a file name, which is
// in the system's narrow encoding and goes through `native`; or the phone's or KESTRIN.ini's
// bytes, which the dialog shows as Windows-1251 and so are converted from it. A line with no
// known text (a reply the bootstrap logs) is the phone's, converted from Windows-1251 too.
std::string translateLine(std::string_view line, Language language, const NativeToUtf8& native);

// Windows-1251 to UTF-8, every byte: the letters of the Cyrillic block, the punctuation of the
// upper half, and U+FFFD for the one unassigned byte.
std::string utf8FromCp1251(std::string_view text);

}  // namespace norvale
