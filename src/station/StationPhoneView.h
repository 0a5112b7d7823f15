// A station phone's view: its messages into its row's log and to the face, its progress into its
// row, its address fields its own.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "core/MessageCatalogue.h"
#include "core/OperationLog.h"
#include "platform/Clock.h"
#include "station/ConsoleText.h"
#include "station/StationFace.h"
#include "station/StationPhone.h"
#include "station/WindowlessView.h"

namespace norvale {

// The bodies read and set the address fields as they do the dialog's (eight characters shown, as
// the dialog's fields hold); progress goes to the phone's row; each message to its log and, when
// a face wants the lines as they come, to the face. The last error is kept, as the station's
// language tells it and by its stable name, for the journal and the row.
class StationPhoneView final : public WindowlessView, public OperationLog {
public:
    StationPhoneView(StationPhone& phone, std::size_t arrival, Clock& clock, StationFace* face,
                     Language language, NativeToUtf8 native)
        : phone_(phone),
          arrival_(arrival),
          clock_(clock),
          face_(face),
          language_(language),
          native_(std::move(native)) {}

    // The last error line, UTF-8, and its message; none while there was none.
    std::string errorLine() const;
    std::optional<MessageId> errorId() const;

    // OperationLog.
    void append(const Message& message) override;

    // DialogView.
    void setFieldText(AddressField field, std::string_view text) override;
    std::string fieldText(AddressField field) override;
    void showProgress(std::uint64_t done, std::uint64_t total) override {
        phone_.showTransfer(done, total, clock_.nowMs());
    }
    void endProgress() override { phone_.endTransfer(); }

private:
    StationPhone& phone_;
    std::size_t arrival_;
    Clock& clock_;
    StationFace* face_;
    Language language_;
    NativeToUtf8 native_;
    mutable std::mutex mutex_;
    std::optional<Message> lastError_;
    std::string startText_;
    std::string endText_;
};

}  // namespace norvale
