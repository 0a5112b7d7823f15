// A folder and the folders above it made through the file seam, so each name is on the disk.
#pragma once

#include <string>

#include "platform/FileSystem.h"

namespace norvale {

// Makes every folder of `path` that is missing, from the top down ("a/b/c": a, a/b, a/b/c), as
// std::filesystem::create_directories would, but through `files`, whose createFolder() puts each
// new name on the disk. A name some file or folder has already is passed by. none when the path's
// folders were there or were made; else the first failure, with the folders made before it kept.
FileError createFolderPath(FileSystem& files, const std::string& path);

}  // namespace norvale
