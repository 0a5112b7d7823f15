// The station: 1 to 64 phones served at once, each on a bus of its own.
#pragma once

#include "BenchOptions.h"
#include "ResultTable.h"

namespace norvale::bench {

// The phone counts of the `station` part, and the one whose peak memory is measured.
inline constexpr unsigned kStationCounts[] = {1, 2, 4, 8, 16, 32, 64};
inline constexpr unsigned kStationMemoryPhones = 64;

// The `station` part: for each count, StationRig runs that many phones at once `repeat` times
// (after one untimed run); each row gives the station's rate (StationTime) as a share of the
// count times the one-phone rate, medians of the runs, and Norvale's processor time per phone.
// Then the platform's peak-memory figures (stationPeakMemory).
void benchStation(const BenchOptions& options, ResultTable& table);

}  // namespace norvale::bench
