// Messages as the dialog's log shows them.
#pragma once

#include <string>
#include <vector>

#include "core/Message.h"

namespace norvale {

// The Windows-1251 lines of `message`, each ending in "\r\n": the catalogue's Russian text, an
// error after "ОШИБКА - ", names and the phone's bytes as they are.
std::vector<std::string> dialogLogLines(const Message& message);

}  // namespace norvale
