// Where the station window's controls go: measured from their texts in the window's font.
#pragma once

#include <windows.h>

namespace norvale {

// Places every control of the station window `window` in its client area, each button and label
// as wide as its text needs in `font` (so both languages fit at any scale), the phone list taking
// whatever room is left. Returns the smallest client size at which nothing overlaps, for
// WM_GETMINMAXINFO. Called after the texts are set, on every WM_SIZE and after a DPI change.
SIZE layoutStationWindow(HWND window, HFONT font);

// The width `text` takes in `font`, a mnemonic's '&' left out, as the controls draw it.
int textWidth(HDC dc, HFONT font, const wchar_t* text);

}  // namespace norvale
