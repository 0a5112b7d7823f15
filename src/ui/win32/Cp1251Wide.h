// Windows-1251 text to UTF-16 and back, for the W messages of the dialog.
#pragma once

#include <string>
#include <string_view>

namespace norvale {

// The dialog's texts are kept in Windows-1251 whatever the system's ANSI code page is; the
// window only ever sees them as UTF-16, so the Cyrillic reads correctly everywhere.
std::wstring wideFromCp1251(std::string_view text);
// Characters with no Windows-1251 form become '?'.
std::string cp1251FromWide(std::wstring_view text);

}  // namespace norvale
