// The frame every operator command runs in on its worker thread.
#pragma once

#include "protocol/CommandContext.h"

namespace norvale {

// Without a phone: tells phone_not_connected and ends. Otherwise runs the loader bootstrap and,
// if it brought the loader up, `body`. Clears busy on every path, last. The outcome names the
// command's error message, if it told one.
CommandOutcome runCommandWorker(Services& services, const CommandBody& body);

}  // namespace norvale
