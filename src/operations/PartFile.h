// A new file written under a ".part" name and given its own name only once whole.
#pragma once

#include <string>
#include <string_view>

#include "core/Message.h"
#include "platform/FileSystem.h"

namespace norvale {

// Where a file is while it is written: a file under a dump's own name is always a whole dump, so
// one cut short (the phone gone, the disk full, the window closed, the process ended) can't be
// taken for one and written back into a phone.
inline constexpr std::string_view kPartSuffix = ".part";

inline std::string partFileName(std::string_view name) {
    std::string part(name);
    part += kPartSuffix;
    return part;
}

// The error message when a file could not be created (or its name was found taken); its detail
// is the file's name.
MessageId createFailureReason(FileError error);

// What to say when renameNoReplace(partName, name) failed with `error`: a name taken meanwhile
// names both files (the whole file stays under partName), any other failure the rename itself.
Message renameFailure(FileError error, const std::string& partName, const std::string& name);

}  // namespace norvale
