// The dialog's rendering of messages: the catalogue's Russian bytes, details as they are.
#include "ui/DialogLogLines.h"

#include "core/MessageCatalogue.h"

namespace norvale {

std::vector<std::string> dialogLogLines(const Message& message) {
    std::vector<std::string> lines =
        messageLines(message, Language::russian, TextEncoding::windows1251, plainDetailText);
    for (std::string& line : lines) line += "\r\n";
    return lines;
}

}  // namespace norvale
