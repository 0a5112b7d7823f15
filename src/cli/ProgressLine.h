// The one-line progress display of a transfer on a terminal.
#pragma once

#include <cstdint>
#include <string>

namespace norvale {

// "[#######.............]  28.0 KiB of 64.0 KiB  1.2 MiB/s  0:03 left", no wider than `columns`
// less one (a terminal wraps a line that fills its last column): the bar takes what the widest
// figures leave, up to 40 columns, and goes when too little is left. The rate and time left need
// some time gone by; before that they show as "--". `total` is above 0 and `done` at most `total`.
std::string formatProgress(std::uint64_t done, std::uint64_t total, std::uint64_t elapsedMs,
                           unsigned columns);

// A byte count as the line shows it: "512 B", "28.0 KiB", "18.8 MiB".
std::string formatBytes(std::uint64_t bytes);

}  // namespace norvale
