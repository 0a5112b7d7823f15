// Seam: the operator picks an image file.
#pragma once

#include <optional>
#include <string>

namespace norvale {

// Contract: shows the open-file dialog (all files, no owner) and blocks until the operator
// closes it. Returns the chosen path, or nullopt when the operator cancelled or the dialog failed.
// Choosing a file never changes the working directory.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    virtual std::optional<std::string> chooseImageFile() = 0;
};

}  // namespace norvale
