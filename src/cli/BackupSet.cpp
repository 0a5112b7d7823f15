// The backup folder's default name and the checksums file's lines.
#include "cli/BackupSet.h"

#include <ctime>

#include "cli/Sha256.h"

namespace norvale {

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
    std::string line = sha256Hex(bytes);
    line += "  ";
    line += name;
    line += '\n';
    return line;
}

}  // namespace norvale
