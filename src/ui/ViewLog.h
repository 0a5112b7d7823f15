// The operation log as the dialog's log pane.
#pragma once

#include <string>

#include "core/OperationLog.h"
#include "platform/DialogView.h"
#include "ui/DialogLogLines.h"

namespace norvale {

// Each line of a message goes to the view, which runs it on the UI thread and returns once it is
// shown.
class ViewLog final : public OperationLog {
public:
    explicit ViewLog(DialogView& view) : view_(view) {}
    void append(const Message& message) override {
        for (const std::string& line : dialogLogLines(message)) view_.appendLog(line);
    }

private:
    DialogView& view_;
};

}  // namespace norvale
