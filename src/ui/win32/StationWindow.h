// The station window: its procedure, which hands every message to the controller or the view.
#pragma once

#include <windows.h>

#include "ui/StationWindowController.h"
#include "ui/win32/Win32StationView.h"

namespace norvale {

// What the window procedure dispatches to; kept in the window's DWLP_USER slot.
struct StationWindowBinding {
    Win32StationView& view;
    StationWindowController& controller;
    bool startAtOnce = false;
};

// The procedure decides nothing: it stores the binding at WM_INITDIALOG and calls the handler
// named for each message, returning its answer.
INT_PTR CALLBACK stationWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the station template of `instance` as the program's main window, with a message loop of
// its own, and returns once the controller closed it (-1 when the window could not be created).
int runStationWindow(HINSTANCE instance, StationWindowBinding& binding);

}  // namespace norvale
