// The message catalogue: per identifier its stable name, its kind and its Russian and English
// texts, and the one way their places are filled.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Cp1251.h"
#include "core/Message.h"

namespace norvale {

enum class Language { russian, english };

// How a front end wants the catalogue's own words: the dialog's Windows-1251 bytes, or UTF-8.
enum class TextEncoding { windows1251, utf8 };

// The longest Russian pattern fits with room to spare; a longer one stops the build.
inline constexpr std::size_t kMaxPatternBytes = 96;

// A message's text is a pattern: "{N}" is the place of its N-th detail (1 to 9); a part in "[" and
// "]" shows only when every detail it places was given (a dump's ".part" file, say, which a
// comparison has not); "\n" ends a line and begins the next. The Russian pattern is
// Windows-1251 bytes, the English one ASCII. Details are never read as patterns.
struct MessageEntry {
    MessageId id;
    std::string_view name;  // stable snake_case: journals and scripts key on it; never reused
    bool error;             // shown after the error prefix ("ОШИБКА - "), on the error stream
    BoundedCp1251Text<kMaxPatternBytes> russian;
    std::string_view english;
};

const MessageEntry& messageEntry(MessageId id);
inline std::string_view messageName(MessageId id) { return messageEntry(id).name; }
inline bool isErrorMessage(MessageId id) { return messageEntry(id).error; }
std::string_view messagePattern(MessageId id, Language language);
// What begins every error line: "ОШИБКА - " (Windows-1251) or "ERROR - ".
std::string_view errorPrefix(Language language);

// A detail as the dialog shows it: a name or the phone's bytes as they are, a byte count in
// decimal, an address as 8 upper-case hex digits.
std::string plainDetailText(const MessageDetail& detail);

using DetailText = std::function<std::string(const MessageDetail&)>;

// The lines of `message` in `language`, without line ends: the error prefix before the first
// line of an error, the catalogue's words in `encoding`, each detail as `detailText` gives it. A
// place whose detail is missing shows nothing; a detail without a place is not shown.
std::vector<std::string> messageLines(const Message& message, Language language,
                                      TextEncoding encoding, const DetailText& detailText);

// The places a pattern names, in order of appearance, each as its number, negated when it stands
// in an optional part: what the catalogue's test holds the two languages to.
std::vector<int> patternPlaces(std::string_view pattern);

}  // namespace norvale
