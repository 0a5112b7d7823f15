// Hashing a file through the file seam.
#include "cli/FileDigest.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "cli/Sha256.h"

namespace norvale {
namespace {

constexpr std::size_t kPiece = 64 * 1024;

}  // namespace

std::optional<std::string> fileSha256Hex(FileSystem& files, const std::string& name) {
    OpenedFile opened = files.openForReading(name);
    if (!opened.file) return std::nullopt;
    const std::optional<std::uint64_t> size = opened.file->size();
    if (!size) return std::nullopt;
    Sha256 hash;
    std::vector<std::uint8_t> piece(kPiece);
    for (std::uint64_t left = *size; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kPiece));
        if (!opened.file->readExact(std::span(piece).first(n))) return std::nullopt;
        hash.update(std::span(piece).first(n));
        left -= n;
    }
    return hash.finishHex();
}

}  // namespace norvale
