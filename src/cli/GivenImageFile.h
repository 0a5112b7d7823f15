// The image-file chooser of the command line: the file is named on the command line.
#pragma once

#include <optional>
#include <string>

#include "platform/FileChooser.h"

namespace norvale {

// Answers every question with the file given last, as an operator who picks it without a word.
class GivenImageFile final : public FileChooser {
public:
    void give(std::string path) { path_ = std::move(path); }
    std::optional<std::string> chooseImageFile() override { return path_; }

private:
    std::optional<std::string> path_;
};

}  // namespace norvale
