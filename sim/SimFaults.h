// Faults the simulated driver injects at a numbered pipe transfer, and their text form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvale {

enum class SimFaultKind {
    unplug,  // the phone is removed just before the transfer; it and all later ones fail
    nodata,  // the transfer completes but carries nothing (a read delivers no data)
    hang,    // the transfer never completes: it fails after its whole wait time
};

// `transfer` counts pipe writes and reads from 1 (string queries don't count): those of the whole
// run across all interfaces when `phone` is 0, those of phone `phone` alone (the simulator's K-th
// phone, across its returns) otherwise.
struct SimFault {
    SimFaultKind kind = SimFaultKind::unplug;
    std::uint64_t transfer = 0;
    unsigned phone = 0;
    friend bool operator==(const SimFault&, const SimFault&) = default;
};

struct ParsedSimFaults {
    std::vector<SimFault> faults;
    // "stuck@<hex address>": the flash block holding the address keeps its contents when
    // written, while the write's replies look normal, as a worn block does.
    std::vector<std::uint32_t> stuckBlocks;
    // "K:stuck@<hex address>": the same on phone K only.
    std::vector<std::pair<unsigned, std::uint32_t>> phoneStuckBlocks;
    std::vector<std::string> rejected;  // items that are neither "<kind>@<N>" with N >= 1 nor
                                        // "stuck@<1 to 8 hex digits>"
};

// Parses a comma-separated list such as "unplug@12,hang@3,stuck@1001C000,2:unplug@40". An item
// may start with "K:" (K a decimal number from 1) to name phone K. Blanks around items are
// ignored, and so are empty items; a bad item is skipped and reported, the rest still apply.
ParsedSimFaults parseSimFaults(std::string_view text);

std::string_view simFaultName(SimFaultKind kind);

}  // namespace norvale
