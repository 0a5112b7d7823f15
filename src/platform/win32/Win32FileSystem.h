// The file seam over CreateFileA, ReadFile and WriteFile.
#pragma once

#include <windows.h>

#include "platform/FileSystem.h"

namespace norvale {

// How the file system's refusal reads at the seam.
FileError fileErrorFromWin32(DWORD error);

class Win32FileSystem final : public FileSystem {
public:
    OpenedFile openForReading(const std::string& name) override;
    OpenedFile createNew(const std::string& name) override;
};

}  // namespace norvale
