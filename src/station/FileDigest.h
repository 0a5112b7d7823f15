// The SHA-256 of a file as it lies on disk, read in pieces.
#pragma once

#include <optional>
#include <string>

#include "core/Message.h"
#include "platform/FileSystem.h"

namespace norvale {

struct FileDigest {
    std::optional<std::string> hex;  // 64 lower-case hex digits, when the file was read whole
    // Why not: fileInUse when another program holds the file without sharing it, else
    // cannotReadFile (missing, no access, a failed read).
    MessageId failure = MessageId::cannotReadFile;
};

// The file is read 16 KB at a time, so hashing a dump of any size costs no more memory than
// that, however many sessions hash at once.
FileDigest fileDigest(FileSystem& files, const std::string& name);

}  // namespace norvale
