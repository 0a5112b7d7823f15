// The whole life of either station program once its bindings are chosen: the window, then the
// exit.
#pragma once

#include <windows.h>

#include "station/StationBindings.h"

namespace norvale {

// Runs the station window over `bindings` (whose language and narrow-text conversion it sets:
// the user's UI language, the system's ANSI code page) with the settings of the operator's
// profile; `simulated`: the bindings' roads are the simulator's. `startAtOnce` presses Start as
// soon as the window is up (the program's --start). Returns the exit code once the window closed,
// which it does only after every phone's session ended.
int runStationProgram(HINSTANCE instance, StationBindings& bindings, bool simulated,
                      bool startAtOnce);

// Whether the program's command line asks for --start.
bool startRequested(const wchar_t* commandLine);

}  // namespace norvale
