// The image file chooser seam over the common open-file dialog.
#pragma once

#include "platform/FileChooser.h"

namespace norvale {

class Win32FileChooser final : public FileChooser {
public:
    std::optional<std::string> chooseImageFile() override;
};

}  // namespace norvale
