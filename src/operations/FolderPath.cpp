// The folders of a path made one by one below its root.
#include "operations/FolderPath.h"

#include <filesystem>

namespace norvale {

FileError createFolderPath(FileSystem& files, const std::string& path) {
    const std::filesystem::path whole(path);
    // The root ("/", "C:\") is there; only what follows it is made.
    std::filesystem::path folder = whole.root_path();
    for (const std::filesystem::path& part : whole.relative_path()) {
        if (part.empty() || part == ".") continue;
        folder /= part;
        const FileError error = files.createFolder(folder.string());
        if (error != FileError::none && error != FileError::alreadyExists) return error;
    }
    return FileError::none;
}

}  // namespace norvale
