// What --station and its options ask for: every phone that arrives runs the command chain.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace norvale {

struct StationOptions {
    bool enabled = false;                // --station
    std::vector<std::string> ports;      // --port LOCATION (repeatable): only phones there
    std::optional<unsigned> count;       // --count N: end once N phones have finished
    std::optional<std::string> journal;  // --journal FILE: one JSON line per phone run
    bool clonePds = false;               // --clone-pds: a restore writes its PDS to every phone
};

}  // namespace norvale
