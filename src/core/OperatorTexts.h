// The texts the operator sees outside the log, as Windows-1251 bytes; the log's are messages
// (MessageCatalogue.h).
#pragma once

#include "core/Cp1251.h"

namespace norvale::text {

// Status bar, part 0.
inline constexpr Cp1251Text kStatusConnected{u8"Подключен"};
inline constexpr Cp1251Text kStatusDisconnected{u8"Не подключен"};

// The image file dialog's one filter: description and pattern, each ending in a zero byte; the
// text's own terminator ends the list.
inline constexpr Cp1251Text kImageFileFilter{u8"All files\0*.*\0"};

}  // namespace norvale::text
