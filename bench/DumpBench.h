// The CG1 dump: against a file copy of its size, and over the bus model of USB full speed.
#pragma once

#include "BenchOptions.h"
#include "ResultTable.h"

namespace norvale::bench {

inline constexpr char kCg1StartText[] = "100A0000";
inline constexpr char kCg1EndText[] = "1135FFFF";
inline constexpr std::uint32_t kCg1Start = 0x100A0000;
inline constexpr std::uint32_t kCg1Size = 0x12C0000;

// The `dump` part: the dump on the driver road with transfers that take no time, and a copy of a
// file of the same size through the same file layer, 4096 bytes at a time; Norvale's own
// processor time against the copy's.
void benchDumpAgainstCopy(const BenchOptions& options, ResultTable& table);

// The `link` part: the same dump where every transfer takes its time on a full-speed bus on the
// virtual clock, on the driver road, on the USB road with transfers queued ahead, and on the USB
// road one transfer at a time; the modelled time, Norvale's own time on the transfer path, and
// the rate as a share of the bus's byte limit.
void benchDumpOverLinkModel(const BenchOptions& options, ResultTable& table);

}  // namespace norvale::bench
