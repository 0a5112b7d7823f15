// The station plan that what the window is set to asks for.
#pragma once

#include <optional>

#include "station/StationPlan.h"
#include "ui/StationSetup.h"

namespace norvale {

// The chain as the buttons built it, every write verified or not and limited to the changed
// blocks or not as the two boxes say, the folder, the journal ("" for none) and the places
// (none ticked serves none: such a setup makes no plan). `simulated`: the program serves the
// simulated phones, which the command line says with --sim. Nullopt when a step can't be made
// (a block range that covers no whole block).
std::optional<StationPlan> stationPlan(const StationSetup& setup, bool simulated);

// The button's step that makes `step` as a plan runs it, verified and limited to the changed
// blocks as the window's two boxes say; nullopt for a step no button makes (info, read, a backup
// into a named folder, a write with a backup first, a restore without its backup).
std::optional<SetupStep> setupStep(const ChainStep& step);

// A block range's texts as typed, as a range: 1 to 8 hex digits each, the start not above the
// end; nullopt otherwise.
std::optional<FlashRange> typedRange(const std::string& startText, const std::string& endText);

}  // namespace norvale
