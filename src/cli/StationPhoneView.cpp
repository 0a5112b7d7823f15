// Error lines kept as they are shown; everything else passed on.
#include "cli/StationPhoneView.h"

#include "core/OperatorTexts.h"

namespace norvale {

void StationPhoneView::appendLog(std::string_view text) {
    // An error line comes in one piece (CommandContext::fail, the session's refusals).
    if (text.substr(0, text::kErrorPrefix.view().size()) == text::kErrorPrefix) {
        const NativeToUtf8 native = [this](std::string_view name) {
            return console_.nativeToUtf8(name);
        };
        std::string line = translateLine(text, lines_.language(), native);
        std::lock_guard lock(mutex_);
        errorLine_ = std::move(line);
    }
    lines_.appendLog(text);
}

std::string StationPhoneView::errorLine() const {
    std::lock_guard lock(mutex_);
    return errorLine_;
}

}  // namespace norvale
