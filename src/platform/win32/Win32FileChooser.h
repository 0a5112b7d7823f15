// The image file chooser seam over the common open-file dialog.
#pragma once

#include <string>
#include <string_view>

#include "platform/FileChooser.h"

namespace norvale {

// `filter` is the dialog's filter list as GetOpenFileNameA takes it: pairs of description and
// pattern, each ending in a zero byte (the list's closing zero is added here). The operator's
// texts belong to the layers above, so the program hands it in.
class Win32FileChooser final : public FileChooser {
public:
    explicit Win32FileChooser(std::string_view filter) : filter_(filter) { filter_ += '\0'; }
    std::optional<std::string> chooseImageFile() override;

private:
    std::string filter_;
};

}  // namespace norvale
