// Queued answers of the file chooser.
#include "ScriptedFileChooser.h"

namespace norvale {

void ScriptedFileChooser::choose(std::string path) {
    std::lock_guard lock(mutex_);
    answers_.emplace_back(std::move(path));
}

void ScriptedFileChooser::cancel() {
    std::lock_guard lock(mutex_);
    answers_.emplace_back(std::nullopt);
}

std::optional<std::string> ScriptedFileChooser::chooseImageFile() {
    std::lock_guard lock(mutex_);
    ++shown_;
    if (answers_.empty()) return std::nullopt;
    std::optional<std::string> answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
}

std::size_t ScriptedFileChooser::timesShown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

std::size_t ScriptedFileChooser::answersLeft() const {
    std::lock_guard lock(mutex_);
    return answers_.size();
}

}  // namespace norvale
