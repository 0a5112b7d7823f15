// The backup folder's default name and the checksums file's lines, written and read.
#include "station/BackupSet.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <optional>

#include "operations/DumpFileName.h"
#include "station/Sha256.h"

namespace norvale {
namespace {

constexpr std::size_t kDigestDigits = 64;

bool isHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// One line without its line end, or nullopt when it is malformed.
std::optional<ChecksumEntry> checksumEntry(std::string_view line) {
    if (line.size() < kDigestDigits + 3) return std::nullopt;
    const std::string_view digest = line.substr(0, kDigestDigits);
    if (!std::all_of(digest.begin(), digest.end(), isHexDigit)) return std::nullopt;
    if (line[kDigestDigits] != ' ' ||
        (line[kDigestDigits + 1] != ' ' && line[kDigestDigits + 1] != '*')) {
        return std::nullopt;
    }
    const std::string_view name = line.substr(kDigestDigits + 2);
    if (!isPlainFileName(name)) return std::nullopt;
    return ChecksumEntry{lowerCase(digest), std::string(name)};
}

}  // namespace

std::string defaultBackupFolderName() {
    const std::time_t now = std::time(nullptr);
    // The program's one thread that asks for the local time: the shared result is safe here.
    const std::tm* local = std::localtime(&now);  // NOLINT(concurrency-mt-unsafe)
    char name[32] = {};
    if (local == nullptr || std::strftime(name, sizeof name, "backup-%Y%m%d-%H%M%S", local) == 0) {
        return "backup";
    }
    return name;
}

std::string checksumLine(std::span<const std::uint8_t> bytes, std::string_view name) {
    return checksumLine(sha256Hex(bytes), name);
}

std::string checksumLine(std::string_view digestHex, std::string_view name) {
    std::string line(digestHex);
    line += "  ";
    line += name;
    line += '\n';
    return line;
}

ChecksumList parseChecksums(std::string_view text) {
    ChecksumList list;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::optional<ChecksumEntry> entry = checksumEntry(line);
        // The same file twice, in any case, since Windows takes both for one file.
        const bool twice =
            entry && std::any_of(list.entries.begin(), list.entries.end(), [&](const auto& other) {
                return equalsIgnoringCase(other.name, entry->name);
            });
        if (!entry || twice) {
            list.badLine = number;
            return list;
        }
        list.entries.push_back(std::move(*entry));
    }
    return list;
}

}  // namespace norvale
