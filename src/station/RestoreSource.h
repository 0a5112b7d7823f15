// A backup folder read back for a restore: its checksums and its three regions' images.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/Message.h"
#include "platform/FileSystem.h"
#include "protocol/CommandFormats.h"
#include "station/BackupSet.h"

namespace norvale {

struct RestoreSource {
    // Why the folder can't be restored, naming its file; nothing when it can.
    std::optional<Message> refusal;
    std::array<Bytes, kBackupRegions.size()> images;  // in the order of kBackupRegions
};

// Reads `folder`'s SHA256SUMS and every file it lists, touching nothing. The folder can be
// restored when the checksums file is sound (parseChecksums()), lists Boot.bin, PDS.bin and
// Panic.bin, every file it lists can be read and has its digest, and each region's file is
// exactly its region's size. Otherwise the first problem found, naming its file (and, for a
// malformed line, "FILE:LINE").
RestoreSource readRestoreSource(FileSystem& files, const std::string& folder);

}  // namespace norvale
