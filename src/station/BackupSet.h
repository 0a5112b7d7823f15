// What a backup holds: the three writable regions and the checksums file beside them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "operations/WritePlan.h"

namespace norvale {

struct BackupRegion {
    std::string_view fileName;  // the dump name the dialog gives the region
    std::uint32_t start;
    std::uint32_t end;
    std::vector<ImageSlice> (*slices)();  // how its write command lays an image into it

    std::uint32_t size() const { return end - start + 1; }
};

inline constexpr std::array<BackupRegion, 3> kBackupRegions{{
    {"Boot.bin", 0x10000000, 0x1000FFFF, bootSlices},
    {"PDS.bin", 0x10010000, 0x1001FFFF, pdsSlices},
    {"Panic.bin", 0x10020000, 0x1003FFFF, panicSlices},
}};

inline constexpr std::string_view kChecksumsFileName = "SHA256SUMS";

// "backup-20261208-041500": the local date and time now, so backups sort by when they were made.
std::string defaultBackupFolderName();

// One line of the checksums file as sha256sum writes it: 64 hex digits, two spaces (binary and
// text mode read alike on these files), the name, "\n".
std::string checksumLine(std::span<const std::uint8_t> bytes, std::string_view name);
// The same line for a digest already taken (64 hex digits).
std::string checksumLine(std::string_view digestHex, std::string_view name);

struct ChecksumEntry {
    std::string digest;  // 64 lower-case hex digits
    std::string name;

    friend bool operator==(const ChecksumEntry&, const ChecksumEntry&) = default;
};

struct ChecksumList {
    std::vector<ChecksumEntry> entries;  // in the file's order, up to the first malformed line
    std::size_t badLine = 0;             // that line's number from 1; 0 when every line is sound
};

// Reads a checksums file as sha256sum writes it, each line "DIGEST  NAME" or "DIGEST *NAME" (the
// binary mode's mark): 64 hex digits of either case, and the name of a file of the folder itself
// (no folder part, nothing a file name can't hold). The last line may lack its "\n" and any line
// may end in "\r\n", as an editor on Windows leaves it. Anything else (an empty line, a shorter
// digest, a name given twice) is malformed: the file vouches for nothing then.
ChecksumList parseChecksums(std::string_view text);

}  // namespace norvale
