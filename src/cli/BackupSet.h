// What a backup holds: the three writable regions and the checksums file beside them.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace norvale {

struct BackupRegion {
    std::string_view fileName;  // the dump name the dialog gives the region
    std::uint32_t start;
    std::uint32_t end;
};

inline constexpr std::array<BackupRegion, 3> kBackupRegions{{
    {"Boot.bin", 0x10000000, 0x1000FFFF},
    {"PDS.bin", 0x10010000, 0x1001FFFF},
    {"Panic.bin", 0x10020000, 0x1003FFFF},
}};

inline constexpr std::string_view kChecksumsFileName = "SHA256SUMS";

// "backup-20261208-041500": the local date and time now, so backups sort by when they were made.
std::string defaultBackupFolderName();

// One line of the checksums file as sha256sum writes it: 64 hex digits, two spaces (binary and
// text mode read alike on these files), the name, "\n".
std::string checksumLine(std::span<const std::uint8_t> bytes, std::string_view name);

}  // namespace norvale
