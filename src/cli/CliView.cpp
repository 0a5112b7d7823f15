// Log lines to the console streams, field texts in memory, progress drawn on a terminal.
#include "cli/CliView.h"

#include "cli/ProgressLine.h"

namespace norvale {
namespace {

constexpr std::uint64_t kRedrawEveryMs = 100;
constexpr std::size_t kFieldChars = 8;

}  // namespace

CliView::CliView(Console& console, Clock& clock, Language language, bool quiet)
    : console_(console),
      clock_(clock),
      language_(language),
      quiet_(quiet),
      drawsProgress_(!quiet && console.isTerminal(ConsoleStream::output)) {}

void CliView::append(const Message& message) {
    const bool error = isErrorMessage(message.id);
    if (quiet_ && !error) return;
    const NativeToUtf8 native = [this](std::string_view name) {
        return console_.nativeToUtf8(name);
    };
    const std::string text = consoleText(message, language_, native) + "\n";
    std::lock_guard lock(mutex_);
    clearProgressLine();
    console_.write(error ? ConsoleStream::errors : ConsoleStream::output, text);
}

void CliView::printResult(std::string_view utf8Line) {
    std::lock_guard lock(mutex_);
    clearProgressLine();
    console_.write(ConsoleStream::output, std::string(utf8Line) + "\n");
}

void CliView::setFieldText(AddressField field, std::string_view text) {
    std::lock_guard lock(mutex_);
    (field == AddressField::start ? startText_ : endText_) = text;
}

std::string CliView::fieldText(AddressField field) {
    std::lock_guard lock(mutex_);
    return (field == AddressField::start ? startText_ : endText_).substr(0, kFieldChars);
}

void CliView::showProgress(std::uint64_t done, std::uint64_t total) {
    if (!drawsProgress_ || total == 0) return;
    std::lock_guard lock(mutex_);
    const std::uint64_t now = clock_.nowMs();
    if (!progressStartMs_) progressStartMs_ = now;
    if (lastDrawMs_ && now - *lastDrawMs_ < kRedrawEveryMs && done < total) return;
    lastDrawMs_ = now;
    const std::string line = formatProgress(done, total, now - *progressStartMs_, console_.width());
    // Spaces over what a longer line before it left behind.
    const std::size_t pad = drawnWidth_ > line.size() ? drawnWidth_ - line.size() : 0;
    std::string redraw(1, '\r');
    redraw += line;
    redraw.append(pad, ' ');
    console_.write(ConsoleStream::output, redraw);
    drawnWidth_ = line.size();
}

void CliView::endProgress() {
    std::lock_guard lock(mutex_);
    clearProgressLine();
    progressStartMs_.reset();
    lastDrawMs_.reset();
}

void CliView::clearProgressLine() {
    if (drawnWidth_ == 0) return;
    std::string blank(1, '\r');
    blank.append(drawnWidth_, ' ');
    blank += '\r';
    console_.write(ConsoleStream::output, blank);
    drawnWidth_ = 0;
}

}  // namespace norvale
