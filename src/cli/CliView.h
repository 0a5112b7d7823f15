// The dialog's view and log as the command line has them: the console instead of a window.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/MessageCatalogue.h"
#include "core/OperationLog.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "station/ConsoleText.h"
#include "station/WindowlessView.h"

namespace norvale {

// - The log: each message goes to the console in the chosen language (see consoleText); error
//   messages to the error stream, the others to the output stream, which `quiet` silences. The
//   log is told only messages: no text is ever appended to it.
// - The address fields hold the texts of the range the running command works on, as the command
//   line gave them: the bodies read them as they read the dialog's fields.
// - Progress: on a terminal (and not quiet), one line redrawn in place with '\r', at most every
//   100 ms and at the end, and cleared when the transfer ends or a log line comes; nothing at all
//   when the output is not a terminal.
// - The status bar, the presence notification and the dialog's end have no place here.
class CliView final : public WindowlessView, public OperationLog {
public:
    CliView(Console& console, Clock& clock, Language language, bool quiet);

    Language language() const { return language_; }

    // OperationLog.
    void append(const Message& message) override;

    // DialogView.
    void setFieldText(AddressField field, std::string_view text) override;
    std::string fieldText(AddressField field) override;
    void showProgress(std::uint64_t done, std::uint64_t total) override;
    void endProgress() override;

    // A line of the command line's own output (a listing, help), UTF-8, shown also when quiet.
    void printResult(std::string_view utf8Line);

private:
    void clearProgressLine();

    Console& console_;
    Clock& clock_;
    Language language_;
    bool quiet_;
    bool drawsProgress_;
    std::mutex mutex_;
    std::string startText_;
    std::string endText_;
    // The running transfer: when it began, when it was last drawn, how wide the drawn line is.
    std::optional<std::uint64_t> progressStartMs_;
    std::optional<std::uint64_t> lastDrawMs_;
    std::size_t drawnWidth_ = 0;
};

}  // namespace norvale
