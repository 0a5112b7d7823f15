// What the station window is set to: the chain as built with its buttons, the folder, the
// journal and the places; kept between starts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace norvale {

// One button's step of the chain. Paths are UTF-8, as the file dialogs gave them and the file
// bindings open them.
struct SetupStep {
    enum class Kind { backup, writeBoot, writePds, writePanic, writeBlocks, restore, start, blank };
    Kind kind = Kind::backup;
    std::string path{};       // a write's image file, a restore's backup folder
    std::string startText{};  // writeBlocks: the range as typed, hex
    std::string endText{};

    bool operator==(const SetupStep&) const = default;
};

struct StationSetup {
    std::vector<SetupStep> steps;
    bool verify = true;
    bool changedOnly = false;
    bool clonePds = false;  // a restore writes its PDS to every phone too
    std::string folder;     // "" until chosen: the program's working folder
    std::string journal;    // "" for none
    bool allPlaces = true;
    std::vector<std::string> knownPlaces;   // every place a phone was seen at, in order
    std::vector<std::string> tickedPlaces;  // served when !allPlaces
    std::string windowLayout;  // the window's place and column widths, as the view gives them
    // The recipe file the chain is (opened or saved as it stands), "" when the chain is the
    // window's own: a change of the chain leaves the recipe.
    std::string recipe;

    bool operator==(const StationSetup&) const = default;
};

// The settings file: one "key=value" line per item, in the order above, a line per step
// ("step=write-boot C:\images\boot.bin", "step=write-blocks 10010000 1001FFFF C:\b.bin"). A file
// edited by hand or cut short loses only the lines it spoils: an unknown key, a step of an
// unknown kind or without its arguments is skipped, and everything missing keeps its default.
std::string formatStationSetup(const StationSetup& setup);
StationSetup parseStationSetup(std::string_view text);

}  // namespace norvale
