// Real time: the monitor's scan interval and pause.
#include "platform/win32/Win32Clock.h"

#include <windows.h>

namespace norvale {

void Win32Clock::sleep(std::uint32_t ms) { ::Sleep(ms); }

}  // namespace norvale
