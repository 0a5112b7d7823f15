// What the command line's views do with the parts of the dialog they have no window for.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/DialogView.h"

namespace norvale {

// The log pane, the status bar, the fields' limits, the presence notification and the dialog's
// end have no place on a console: a view of the command line leaves them out and keeps the
// fields, the progress and its log of messages.
class WindowlessView : public DialogView {
public:
    void appendLog(std::string_view /*text*/) override {}
    void clearLog() override {}
    void createStatusBar(std::string_view /*text*/) override {}
    void setStatusText(std::string_view /*text*/) override {}
    void limitField(AddressField /*field*/, unsigned /*maxChars*/) override {}
    void sendPresence(std::uintptr_t /*wParam*/) override {}
    void endDialog(std::intptr_t /*result*/) override {}
};

}  // namespace norvale
