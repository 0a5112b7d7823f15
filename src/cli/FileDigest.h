// The SHA-256 of a file as it lies on disk, read in pieces.
#pragma once

#include <optional>
#include <string>

#include "platform/FileSystem.h"

namespace norvale {

// 64 lower-case hex digits, or nullopt when the file can't be opened or read whole. The file is
// read 64 KB at a time, so a dump of any size costs no more memory than that.
std::optional<std::string> fileSha256Hex(FileSystem& files, const std::string& name);

}  // namespace norvale
