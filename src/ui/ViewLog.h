// The operation log as the dialog's log pane.
#pragma once

#include <string_view>

#include "core/OperationLog.h"
#include "platform/DialogView.h"

namespace norvale {

// Every append goes to the view, which runs it on the UI thread and returns once it is shown.
class ViewLog final : public OperationLog {
public:
    explicit ViewLog(DialogView& view) : view_(view) {}
    void append(std::string_view text) override { view_.appendLog(text); }

private:
    DialogView& view_;
};

}  // namespace norvale
