// The whole life of either program once its bindings are chosen: the dialog, then the exit.
#pragma once

#include <windows.h>

#include "platform/Platform.h"

namespace norvale {

// Runs the operator dialog over `platform` with the product's commands and presence handling,
// and ends the process with exit code 0 when the dialog closes. The process ends at once: the
// monitor and any running worker are cut off where they are, and nothing is torn down under
// them.
[[noreturn]] void runDialogProgram(HINSTANCE instance, Platform& platform);

}  // namespace norvale
