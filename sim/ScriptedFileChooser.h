// The image-file chooser as a script of the operator's answers.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "platform/FileChooser.h"

namespace norvale {

// Each time the dialog would show, the next queued answer is given: a path, or a cancel. With
// nothing queued the operator cancels. Thread-safe: the worker shows it, the test queues.
class ScriptedFileChooser final : public FileChooser {
public:
    void choose(std::string path);
    void cancel();

    std::optional<std::string> chooseImageFile() override;

    std::size_t timesShown() const;
    std::size_t answersLeft() const;

private:
    mutable std::mutex mutex_;
    std::deque<std::optional<std::string>> answers_;
    std::size_t shown_ = 0;
};

}  // namespace norvale
