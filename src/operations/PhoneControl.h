// The two commands made of loader command bytes alone: start the phone, BLANK mode.
#pragma once

#include "protocol/CommandContext.h"

namespace norvale {

// "Запуск телефона", 'S', 'A', "Успешно". The phone restarts out of flash mode. Reads nothing.
void startPhone(CommandContext& command);
// 'B', then "Установка режима Blank". Reads nothing.
void setBlankMode(CommandContext& command);

}  // namespace norvale
