// Real time: the monitor's scan interval and pause, and the USB road's transfer limits.
#include "platform/win32/Win32Clock.h"

#include <windows.h>

namespace norvale {

void Win32Clock::sleep(std::uint32_t ms) { ::Sleep(ms); }

std::uint64_t Win32Clock::nowMs() const { return ::GetTickCount64(); }

}  // namespace norvale
