// Reading a whole file into memory: the loader images, the operator's images, the configuration.
#pragma once

#include <cstdint>
#include <string>

#include "core/Message.h"
#include "platform/FileSystem.h"
#include "protocol/CommandFormats.h"

namespace norvale {

enum class LoadOutcome {
    loaded,
    cannotOpen,  // missing, no access, invalid name
    inUse,       // another program holds it open without sharing
    empty,
    tooLarge,    // 4 GB or more: refused before anything is allocated
    cannotRead,  // the size can't be taken, memory can't be had, or the read fails
};

struct LoadedFile {
    LoadOutcome outcome = LoadOutcome::cannotOpen;
    Bytes data;  // the whole file when loaded, else empty
};

// Opens `name` for reading (shared for reading, so read-only files and files that other programs
// only read work), reads it whole into a zero-initialised block and closes it on every path.
LoadedFile loadWholeFile(FileSystem& files, const std::string& name);

// The error message for an outcome other than loaded; its detail is the file's name.
MessageId loadFailureReason(LoadOutcome outcome);

}  // namespace norvale
