// The frame every operator command runs in on its worker thread.
#pragma once

#include "protocol/CommandContext.h"

namespace norvale {

// Without a phone: logs "ОШИБКА - Телефон не подключен" and ends. Otherwise runs the loader
// bootstrap and, if it brought the loader up, `body`. Clears busy on every path, last. The
// outcome names the reason of the command's error line, if it logged one.
CommandOutcome runCommandWorker(Services& services, const CommandBody& body);

}  // namespace norvale
