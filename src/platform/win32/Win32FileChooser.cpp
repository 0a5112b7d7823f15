// GetOpenFileNameA with the program's filter, no owner and a 511-character path buffer.
#include "platform/win32/Win32FileChooser.h"

#include <windows.h>
#include <commdlg.h>

namespace norvale {

std::optional<std::string> Win32FileChooser::chooseImageFile() {
    char path[511] = {};  // the terminator included
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = nullptr;
    dialog.lpstrFilter = filter_.c_str();
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof(path);
    // The dialog would otherwise move the working directory to the chosen file's folder, where
    // the loader images, the configuration file and the dumps are no longer found.
    dialog.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameA(&dialog)) return std::nullopt;
    return std::string(path);
}

}  // namespace norvale
