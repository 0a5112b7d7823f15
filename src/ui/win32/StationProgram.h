// The whole life of either station program once its bindings are chosen: the window, then the
// exit.
#pragma once

#include <windows.h>

#include "ui/StationWindowController.h"

namespace norvale {

// Runs the station window with `launcher` making each press of Start's engine, in the user's UI
// language, with the settings of the operator's profile; `startAtOnce` presses Start as soon as
// the window is up (the program's --start). Returns once the window closed, which it does only
// after every phone's session ended.
int runStationProgram(HINSTANCE instance, StationLauncher launcher, bool startAtOnce);

// Whether the program's command line asks for --start.
bool startRequested(const wchar_t* commandLine);

}  // namespace norvale
