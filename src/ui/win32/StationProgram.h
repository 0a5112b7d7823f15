// The whole life of either station program once its bindings are chosen: the window, then the
// exit.
#pragma once

#include <windows.h>

#include <optional>

#include "core/MessageCatalogue.h"
#include "station/RecipeShelf.h"
#include "station/StationBindings.h"

namespace norvale {

// What the program's command line asks for: --start presses Start as soon as the window is up;
// --lang ru|en (as norvale-cli takes it) chooses the window's language over the user's UI
// language.
struct StationWindowOptions {
    bool startAtOnce = false;
    std::optional<Language> language;
};
StationWindowOptions stationOptions(const wchar_t* commandLine);

// Runs the station window over `bindings` (whose language and UTF-8 conversion it sets) with the
// settings of the operator's profile; `simulated`: the bindings' roads are the simulator's;
// `recipes`: the recipe buttons' reader and writer. Returns the exit code once the window
// closed, which it does only after every phone's session ended.
int runStationProgram(HINSTANCE instance, StationBindings& bindings, bool simulated,
                      const StationWindowOptions& options, const RecipeShelf& recipes);

}  // namespace norvale
