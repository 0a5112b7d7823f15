// The last error kept as its message; every message logged and passed on.
#include "station/StationPhoneView.h"

namespace norvale {
namespace {

// What the dialog's address fields show of a text.
constexpr std::size_t kFieldChars = 8;

}  // namespace

void StationPhoneView::append(const Message& message) {
    if (isErrorMessage(message.id)) {
        std::lock_guard lock(mutex_);
        lastError_ = message;
    }
    phone_.log(message);
    if (face_ != nullptr) face_->phoneLine(arrival_, message);
}

void StationPhoneView::setFieldText(AddressField field, std::string_view text) {
    std::lock_guard lock(mutex_);
    (field == AddressField::start ? startText_ : endText_) = text;
}

std::string StationPhoneView::fieldText(AddressField field) {
    std::lock_guard lock(mutex_);
    return (field == AddressField::start ? startText_ : endText_).substr(0, kFieldChars);
}

std::string StationPhoneView::errorLine() const {
    std::lock_guard lock(mutex_);
    if (!lastError_) return {};
    return consoleText(*lastError_, language_, native_);
}

std::optional<MessageId> StationPhoneView::errorId() const {
    std::lock_guard lock(mutex_);
    if (!lastError_) return std::nullopt;
    return lastError_->id;
}

}  // namespace norvale
