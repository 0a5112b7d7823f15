// Hashing a file through the file seam.
#include "station/FileDigest.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "station/Sha256.h"

namespace norvale {
namespace {

constexpr std::size_t kPiece = 16 * 1024;

}  // namespace

FileDigest fileDigest(FileSystem& files, const std::string& name) {
    FileDigest digest;
    OpenedFile opened = files.openForReading(name);
    if (!opened.file) {
        if (opened.error == FileError::sharingViolation) digest.failure = MessageId::fileInUse;
        return digest;
    }
    const std::optional<std::uint64_t> size = opened.file->size();
    if (!size) return digest;
    Sha256 hash;
    std::array<std::uint8_t, kPiece> piece{};
    for (std::uint64_t left = *size; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kPiece));
        if (!opened.file->readExact(std::span(piece).first(n))) return digest;
        hash.update(std::span(piece).first(n));
        left -= n;
    }
    digest.hex = hash.finishHex();
    return digest;
}

}  // namespace norvale
