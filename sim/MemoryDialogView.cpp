// An in-memory dialog view.
#include "MemoryDialogView.h"

#include <algorithm>
#include <utility>

namespace norvale {

namespace {
constexpr std::size_t kFieldReadChars = 8;
}

void MemoryDialogView::appendLog(std::string_view text) {
    {
        std::lock_guard lock(ui_);
        log_ += text;
    }
    logChanged_.notify_all();
}

void MemoryDialogView::clearLog() {
    std::lock_guard lock(ui_);
    log_.clear();
}

void MemoryDialogView::createStatusBar(std::string_view text) {
    std::lock_guard lock(ui_);
    statusBarCreated_ = true;
    status_ = text;
}

void MemoryDialogView::setStatusText(std::string_view text) {
    std::lock_guard lock(ui_);
    status_ = text;
}

void MemoryDialogView::limitField(AddressField which, unsigned maxChars) {
    std::lock_guard lock(ui_);
    field(which).limit = maxChars;
}

void MemoryDialogView::setFieldText(AddressField which, std::string_view text) {
    std::lock_guard lock(ui_);
    field(which).text = text;
}

std::string MemoryDialogView::fieldText(AddressField which) {
    std::lock_guard lock(ui_);
    return field(which).text.substr(0, kFieldReadChars);
}

void MemoryDialogView::sendPresence(std::uintptr_t wParam) {
    std::lock_guard lock(ui_);
    if (presenceHandler_) presenceHandler_(wParam);
}

void MemoryDialogView::endDialog(std::intptr_t result) {
    std::lock_guard lock(ui_);
    endResult_ = result;
}

void MemoryDialogView::showProgress(std::uint64_t done, std::uint64_t total) {
    std::lock_guard lock(ui_);
    ++progressCallCount_;
    if (progressCalls_.size() < kKeptProgressCalls) {
        progressCalls_.push_back(ProgressCall::shown(done, total));
    }
}

void MemoryDialogView::endProgress() {
    std::lock_guard lock(ui_);
    ++progressCallCount_;
    if (progressCalls_.size() < kKeptProgressCalls) progressCalls_.push_back(ProgressCall::ended());
}

void MemoryDialogView::setPresenceHandler(std::function<void(std::uintptr_t)> handler) {
    std::lock_guard lock(ui_);
    presenceHandler_ = std::move(handler);
}

void MemoryDialogView::runOnUiThread(const std::function<void()>& action) {
    std::lock_guard lock(ui_);
    action();
}

void MemoryDialogView::typeIntoField(AddressField which, std::string_view text) {
    std::lock_guard lock(ui_);
    Field& f = field(which);
    const std::size_t room = f.limit ? *f.limit : text.size();
    f.text = text.substr(0, std::min(room, text.size()));
}

std::string MemoryDialogView::logText() const {
    std::lock_guard lock(ui_);
    return log_;
}

std::string MemoryDialogView::statusText() const {
    std::lock_guard lock(ui_);
    return status_;
}

bool MemoryDialogView::statusBarCreated() const {
    std::lock_guard lock(ui_);
    return statusBarCreated_;
}

std::string MemoryDialogView::storedFieldText(AddressField which) const {
    std::lock_guard lock(ui_);
    return field(which).text;
}

std::optional<unsigned> MemoryDialogView::fieldLimit(AddressField which) const {
    std::lock_guard lock(ui_);
    return field(which).limit;
}

std::optional<std::intptr_t> MemoryDialogView::endResult() const {
    std::lock_guard lock(ui_);
    return endResult_;
}

std::vector<ProgressCall> MemoryDialogView::progressCalls() const {
    std::lock_guard lock(ui_);
    return progressCalls_;
}

std::size_t MemoryDialogView::progressCallCount() const {
    std::lock_guard lock(ui_);
    return progressCallCount_;
}

void MemoryDialogView::clearProgressCalls() {
    std::lock_guard lock(ui_);
    progressCalls_.clear();
    progressCallCount_ = 0;
}

bool MemoryDialogView::waitForLog(std::string_view needle,
                                  std::chrono::milliseconds timeout) const {
    std::unique_lock lock(ui_);
    return logChanged_.wait_for(lock, timeout,
                                [&] { return log_.find(needle) != std::string::npos; });
}

}  // namespace norvale
