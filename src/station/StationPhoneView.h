// A station phone's view: its log lines through a view of its own, its progress into its row.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "cli/CliView.h"
#include "station/StationPhone.h"

namespace norvale {

// Messages go to `lines` (the phone's CliView over its prefixed console) as on one phone's
// command line; progress goes to the phone's row for the table instead of a progress line, and
// the last error is kept, as the operator reads it and by its stable name, for the journal.
class StationPhoneView final : public WindowlessView, public OperationLog {
public:
    StationPhoneView(CliView& lines, StationPhone& phone, Clock& clock, Console& console)
        : lines_(lines), phone_(phone), clock_(clock), console_(console) {}

    // The last error line in the run's language, UTF-8, and its message's stable name; "" while
    // there was none.
    std::string errorLine() const;
    std::string reasonName() const;

    // OperationLog.
    void append(const Message& message) override;

    // DialogView.
    void setFieldText(AddressField field, std::string_view text) override {
        lines_.setFieldText(field, text);
    }
    std::string fieldText(AddressField field) override { return lines_.fieldText(field); }
    void showProgress(std::uint64_t done, std::uint64_t total) override {
        phone_.showTransfer(done, total, clock_.nowMs());
    }
    void endProgress() override { phone_.endTransfer(); }

private:
    CliView& lines_;
    StationPhone& phone_;
    Clock& clock_;
    Console& console_;
    mutable std::mutex mutex_;
    std::optional<Message> lastError_;
};

}  // namespace norvale
