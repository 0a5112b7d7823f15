// An in-memory dialog view: the log, status bar and fields of the dialog without a window.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DialogView.h"

namespace norvale {

// One call of showProgress() or endProgress(), as the view recorded it.
struct ProgressCall {
    enum class Kind { show, end };
    Kind kind = Kind::show;
    std::uint64_t done = 0;   // show only
    std::uint64_t total = 0;  // show only

    static ProgressCall shown(std::uint64_t done, std::uint64_t total) {
        return {Kind::show, done, total};
    }
    static ProgressCall ended() { return {Kind::end, 0, 0}; }
    friend bool operator==(const ProgressCall&, const ProgressCall&) = default;
};

// Thread-safe stand-in for the dialog window, for the controller's tests and story tests.
//
// A real dialog runs every log append and the presence handling on its one UI thread, so they
// never overlap. This view keeps that property with a "UI thread" lock: appendLog(),
// sendPresence() and runOnUiThread() all take it, and sendPresence() calls the presence handler
// while holding it. The lock is recursive because the handler appends to the log itself.
class MemoryDialogView final : public DialogView {
public:
    // DialogView.
    void appendLog(std::string_view text) override;
    void clearLog() override;
    void createStatusBar(std::string_view text) override;
    void setStatusText(std::string_view text) override;
    void limitField(AddressField which, unsigned maxChars) override;
    // Like WM_SETTEXT: stores the whole text, whatever the limit (the limit bounds typing).
    void setFieldText(AddressField which, std::string_view text) override;
    // The first 8 characters, as a read through an 8-character buffer gives them.
    std::string fieldText(AddressField which) override;
    void sendPresence(std::uintptr_t wParam) override;
    void endDialog(std::intptr_t result) override;
    void showProgress(std::uint64_t done, std::uint64_t total) override;
    void endProgress() override;

    // Where sendPresence() delivers, normally the controller's onPresence.
    void setPresenceHandler(std::function<void(std::uintptr_t)> handler);
    // Runs `action` as the UI thread would: never at the same time as an append or a presence
    // notification. Use it for the clicks and other UI-thread calls of a test.
    void runOnUiThread(const std::function<void()>& action);

    // The operator replaces the field's text by typing: the limit applies, as in an edit control.
    void typeIntoField(AddressField which, std::string_view text);

    std::string logText() const;
    std::string statusText() const;
    bool statusBarCreated() const;
    // The whole stored text of the field, and its limit (nullopt until limitField()).
    std::string storedFieldText(AddressField which) const;
    std::optional<unsigned> fieldLimit(AddressField which) const;
    std::optional<std::intptr_t> endResult() const;
    // The progress calls in order: the first kKeptProgressCalls of them, so that a long read
    // (4800 replies for CG1) costs no more memory than a short one; progressCallCount() counts
    // them all.
    static constexpr std::size_t kKeptProgressCalls = 256;
    std::vector<ProgressCall> progressCalls() const;
    std::size_t progressCallCount() const;
    void clearProgressCalls();

    // Waits until the log contains `needle`; false when `timeout` passed first.
    bool waitForLog(std::string_view needle, std::chrono::milliseconds timeout) const;

private:
    struct Field {
        std::string text;
        std::optional<unsigned> limit;
    };
    Field& field(AddressField which) { return which == AddressField::start ? start_ : end_; }
    const Field& field(AddressField which) const {
        return which == AddressField::start ? start_ : end_;
    }

    mutable std::recursive_mutex ui_;
    mutable std::condition_variable_any logChanged_;
    std::string log_;
    std::string status_;
    bool statusBarCreated_ = false;
    Field start_;
    Field end_;
    std::optional<std::intptr_t> endResult_;
    std::function<void(std::uintptr_t)> presenceHandler_;
    std::vector<ProgressCall> progressCalls_;
    std::size_t progressCallCount_ = 0;
};

}  // namespace norvale
