// Errors kept as they are shown; every message passed on.
#include "cli/StationPhoneView.h"

#include "cli/ConsoleText.h"

namespace norvale {

void StationPhoneView::append(const Message& message) {
    if (isErrorMessage(message.id)) {
        const NativeToUtf8 native = [this](std::string_view name) {
            return console_.nativeToUtf8(name);
        };
        std::string line = consoleText(message, lines_.language(), native);
        std::lock_guard lock(mutex_);
        errorLine_ = std::move(line);
        reasonName_ = messageName(message.id);
    }
    lines_.append(message);
}

std::string StationPhoneView::errorLine() const {
    std::lock_guard lock(mutex_);
    return errorLine_;
}

std::string StationPhoneView::reasonName() const {
    std::lock_guard lock(mutex_);
    return reasonName_;
}

}  // namespace norvale
