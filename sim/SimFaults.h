// Faults the simulated driver injects at a numbered pipe transfer, and their text form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norvale {

enum class SimFaultKind {
    unplug,  // the phone is removed just before the transfer; it and all later ones fail
    nodata,  // the transfer completes but carries nothing (a read delivers no data)
    hang,    // the transfer never completes: it fails after its whole wait time
};

// `transfer` counts the pipe writes and reads of the whole run from 1, across all interfaces;
// string queries don't count.
struct SimFault {
    SimFaultKind kind = SimFaultKind::unplug;
    std::uint64_t transfer = 0;
    friend bool operator==(const SimFault&, const SimFault&) = default;
};

struct ParsedSimFaults {
    std::vector<SimFault> faults;
    // "stuck@<hex address>": the flash block holding the address keeps its contents when
    // written, while the write's replies look normal, as a worn block does.
    std::vector<std::uint32_t> stuckBlocks;
    std::vector<std::string> rejected;  // items that are neither "<kind>@<N>" with N >= 1 nor
                                        // "stuck@<1 to 8 hex digits>"
};

// Parses a comma-separated list such as "unplug@12,hang@3,stuck@1001C000". Blanks around items
// are ignored, and so are empty items; a bad item is skipped and reported, the rest still apply.
ParsedSimFaults parseSimFaults(std::string_view text);

std::string_view simFaultName(SimFaultKind kind);

}  // namespace norvale
