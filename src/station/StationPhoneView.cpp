// The last error kept as its message; every message passed on.
#include "station/StationPhoneView.h"

#include "station/ConsoleText.h"

namespace norvale {

void StationPhoneView::append(const Message& message) {
    if (isErrorMessage(message.id)) {
        std::lock_guard lock(mutex_);
        lastError_ = message;
    }
    lines_.append(message);
}

std::string StationPhoneView::errorLine() const {
    std::lock_guard lock(mutex_);
    if (!lastError_) return {};
    const NativeToUtf8 native = [this](std::string_view name) {
        return console_.nativeToUtf8(name);
    };
    return consoleText(*lastError_, lines_.language(), native);
}

std::string StationPhoneView::reasonName() const {
    std::lock_guard lock(mutex_);
    return lastError_ ? std::string(messageName(lastError_->id)) : std::string();
}

}  // namespace norvale
