// The file seam over CreateFileW, ReadFile, WriteFile, FlushFileBuffers, GetFileAttributesW,
// MoveFileExW and CreateDirectoryW.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "platform/FileSystem.h"

namespace norvale {

// How the file system's refusal reads at the seam.
FileError fileErrorFromWin32(DWORD error);

// Names come to the seam narrow and go to the system as UTF-16, read in one code page chosen by
// the program: UTF-8 (the default) for the station and the command line, whose names come from
// the wide command line and the wide file dialogs (and meet std::filesystem as char8_t, see
// core/Utf8Path.h), so a name in any script, outside the system's ANSI code page too, opens as
// typed; CP_ACP for the
// dialog, whose ANSI file dialog and Windows-1251 log take names in the system's code page.
// A name that is no text in its code page is refused as invalidName, never opened as a
// best-fit look-alike.
class Win32FileSystem final : public FileSystem {
public:
    explicit Win32FileSystem(UINT codePage = CP_UTF8) : codePage_(codePage) {}

    std::string workingFolderName(std::string_view relative) const override;
    OpenedFile openForReading(const std::string& name) override;
    OpenedFile createNew(const std::string& name) override;
    OpenedFile openForAppending(const std::string& name) override;
    FileError checkNameFree(const std::string& name) override;
    FileError renameNoReplace(const std::string& from, const std::string& to) override;
    FileError createFolder(const std::string& name) override;

private:
    std::optional<std::wstring> wide(const std::string& name) const;

    UINT codePage_;
};

}  // namespace norvale
