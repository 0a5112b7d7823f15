// The file seam over CreateFileA, ReadFile, WriteFile, FlushFileBuffers, GetFileAttributesA,
// MoveFileExA and CreateDirectoryA.
#pragma once

#include <windows.h>

#include "platform/FileSystem.h"

namespace norvale {

// How the file system's refusal reads at the seam.
FileError fileErrorFromWin32(DWORD error);

class Win32FileSystem final : public FileSystem {
public:
    std::string workingFolderName(std::string_view relative) const override;
    OpenedFile openForReading(const std::string& name) override;
    OpenedFile createNew(const std::string& name) override;
    OpenedFile openForAppending(const std::string& name) override;
    FileError checkNameFree(const std::string& name) override;
    FileError renameNoReplace(const std::string& from, const std::string& to) override;
    FileError createFolder(const std::string& name) override;
};

}  // namespace norvale
