// The dialog window: its procedure, which hands every message to the controller or the view.
#pragma once

#include <windows.h>

#include "ui/MainDialog.h"
#include "ui/win32/Win32DialogView.h"

namespace norvale {

// What the dialog procedure dispatches to; kept in the window's DWLP_USER slot.
struct MainDialogBinding {
    Win32DialogView& view;
    MainDialog& controller;
};

// The procedure decides nothing: it stores the binding at WM_INITDIALOG and calls the handler
// named for each message, returning its answer.
INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs dialog template 1 of `instance` modally, without an owner, and returns EndDialog's result
// (-1 when the dialog could not be created). The W form keeps the template's Cyrillic intact
// whatever the system's ANSI code page is.
INT_PTR runMainDialog(HINSTANCE instance, MainDialogBinding& binding);

}  // namespace norvale
