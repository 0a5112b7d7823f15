// The command line's file chooser: never asked, since every image is named on the command line.
#pragma once

#include <optional>
#include <string>

#include "platform/FileChooser.h"

namespace norvale {

// Answers as an operator who cancels: the command line's commands take their files by name and
// never ask, so a question would be a fault, and cancelling sends nothing.
class NoFileChooser final : public FileChooser {
public:
    std::optional<std::string> chooseImageFile() override { return std::nullopt; }
};

}  // namespace norvale
