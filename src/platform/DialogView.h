// Seam: what the dialog controller asks of the window it drives.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace norvale {

enum class AddressField { start, end };

// Contract: all texts are Windows-1251 bytes.
// - appendLog() may be called from any thread; the text is added at the log's insertion point on
//   the UI thread and the call returns once it has been (a sent message, not a posted one).
// - fieldText() may be called from any thread and returns at most 8 characters.
// - sendPresence() may be called from any thread but the UI thread; it hands the monitor's
//   arrival (1) or removal (0) notification to the UI thread and returns once it was handled.
// - showProgress() and endProgress() may be called from any thread. While a command moves data,
//   showProgress() tells how many of its `total` bytes have gone or come so far (done <= total,
//   total > 0); endProgress() says it is over, on every path, and is harmless when nothing was
//   shown. They show on the program's taskbar button only: the log and the status bar are not
//   touched. A view with nowhere to show progress keeps the defaults, which do nothing.
// - Everything else is called on the UI thread only.
class DialogView {
public:
    virtual ~DialogView() = default;
    virtual void appendLog(std::string_view text) = 0;
    virtual void clearLog() = 0;
    // Creates the status bar (three parts: right edges 80, 256 and the window's edge) showing
    // `text` in part 0.
    virtual void createStatusBar(std::string_view text) = 0;
    virtual void setStatusText(std::string_view text) = 0;
    virtual void limitField(AddressField field, unsigned maxChars) = 0;
    virtual void setFieldText(AddressField field, std::string_view text) = 0;
    virtual std::string fieldText(AddressField field) = 0;
    virtual void sendPresence(std::uintptr_t wParam) = 0;
    virtual void endDialog(std::intptr_t result) = 0;
    virtual void showProgress(std::uint64_t /*done*/, std::uint64_t /*total*/) {}
    virtual void endProgress() {}
};

}  // namespace norvale
