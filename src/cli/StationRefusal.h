// The command lines a station can't run: what would make no sense on every phone that arrives.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cli/CliArguments.h"

namespace norvale {

struct Refusal {
    MessageId reason;
    std::string detail;
};

// For a station (`line.options.station.enabled`):
// - `list` is refused: it lists, it serves no phone; so are `info --json` (one document for one
//   phone) and --dry-run (a plan for a phone that has not come). `restore` is not: a shop puts
//   one known-good backup on a line of phones, each phone's own flash saved in its folder first.
// - --device and --wait are refused: a station serves every phone that arrives (--port picks
//   them by where they are attached) and waits for them until --count or Ctrl+C.
// - a file a command names (read -o FILE, write --backup FILE, backup DIR) is made inside each
//   phone's own folder, so it must be a relative name that stays inside it: an absolute name, a
//   drive, or a ".." would have every phone write the same file.
// Without --station, its own options (--port, --count, --journal) are refused.
std::optional<Refusal> stationRefusal(const CommandLine& line);

// Whether `name` names a file inside whatever folder it is taken in: relative, no drive, no ".."
// part ('/' and '\' both separate parts).
bool staysInsideFolder(std::string_view name);

}  // namespace norvale
