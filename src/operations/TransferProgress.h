// The running command's data transfer as progress on the dialog view: started, advanced, ended.
#pragma once

#include <cstdint>

#include "platform/DialogView.h"

namespace norvale {

// Shows 0 of `total` when made, the running sum after each advance(), and ends the display when
// end() is called or, at the latest, when it goes out of scope, so every path of a command,
// failures included, takes the progress off the taskbar. One virtual call per advance: the
// callers advance once per chunk or reply, never per byte.
class TransferProgress {
public:
    TransferProgress(DialogView& view, std::uint64_t total) : view_(view), total_(total) {
        view_.showProgress(0, total_);
    }
    ~TransferProgress() { end(); }
    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

    // A phone that sends more than was asked for does not push the display past its end.
    void advance(std::uint64_t bytes) {
        done_ += bytes;
        view_.showProgress(done_ < total_ ? done_ : total_, total_);
    }
    void end() {
        if (ended_) return;
        ended_ = true;
        view_.endProgress();
    }

private:
    DialogView& view_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    bool ended_ = false;
};

}  // namespace norvale
