// The console's rendering of messages: the catalogue's text, details decoded to UTF-8.
#include "station/ConsoleText.h"

#include <vector>

#include "core/Cp1251.h"

namespace norvale {

std::string consoleText(const Message& message, Language language, const NativeToUtf8& native) {
    const DetailText detailText = [&](const MessageDetail& detail) {
        switch (detail.kind) {
            case MessageDetail::Kind::name: return native(detail.text);
            case MessageDetail::Kind::fromPhone: return utf8FromCp1251(detail.text);
            case MessageDetail::Kind::byteCount:
            case MessageDetail::Kind::address: break;
        }
        return plainDetailText(detail);
    };
    const std::vector<std::string> lines =
        messageLines(message, language, TextEncoding::utf8, detailText);
    std::string text;
    for (const std::string& line : lines) {
        if (&line != &lines.front()) text += '\n';
        text += line;
    }
    return text;
}

}  // namespace norvale
