// The thread seam over CreateThread.
#pragma once

#include "platform/ThreadStarter.h"

namespace norvale {

class Win32ThreadStarter final : public ThreadStarter {
public:
    bool start(std::function<void()> body) override;
    std::unique_ptr<JoinableThread> startJoinable(std::function<void()> body) override;
};

}  // namespace norvale
