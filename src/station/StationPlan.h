// What a station is asked to do: the chain every phone runs, and where and for whom.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "station/ChainStep.h"

namespace norvale {

// The recipe a plan was read from: its name as given (UTF-8) and the SHA-256 of its bytes.
struct RecipeStamp {
    std::string path;
    std::string sha256;
    friend bool operator==(const RecipeStamp&, const RecipeStamp&) = default;
};

struct StationPlan {
    std::vector<ChainStep> steps;
    // Each step as the operator typed it ("read pds -o old.bin"), for the journal; a plan built
    // without a command line takes stepArguments' words joined by spaces.
    std::vector<std::string> stepTexts;
    std::optional<std::string> workingFolder;  // where each phone's folder is made
    std::optional<std::string> journal;        // one JSON line per phone run
    std::vector<std::string> ports;            // only phones at these places; empty: all
    std::optional<unsigned> count;             // end once this many phones have ended
    bool simulated = false;                    // the simulated phones' roads
    std::optional<RecipeStamp> recipe;         // each journal line names it
    // A restore writes the backup's PDS too. PDS holds what belongs to the phone it was read
    // from, so a station writes it to every phone only when asked in so many words; without it
    // a station's restore puts back Boot and Panic alone.
    bool clonePds = false;

    friend bool operator==(const StationPlan&, const StationPlan&) = default;
};

// Every write of the chain verified (or not) and limited to the blocks that differ (or not): the
// window's two boxes. A restore always compares and verifies.
void setWriteChecks(StationPlan& plan, bool verify, bool changedOnly);

// Fills stepTexts from the steps, as a plan built without a command line needs.
void typeStepTexts(StationPlan& plan);

// The arguments of the norvale-cli run that does what `plan` does, after the program's name:
// "--station", the options, then each step's arguments, or "--recipe" and its name for a plan
// read from a recipe.
std::vector<std::string> stationArguments(const StationPlan& plan);

// That run as one line for a Windows console or a batch file: "norvale-cli --station ...", an
// argument quoted when it holds a space, a tab, a quote or nothing, by the rules the C runtime
// splits a command line with (backslashes doubled only before a quote).
std::string stationCommandLine(const StationPlan& plan);

}  // namespace norvale
