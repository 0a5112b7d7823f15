// The CG1 dump: against a file copy of its size, and over the link model of USB full speed.
#pragma once

#include "BenchOptions.h"
#include "ResultTable.h"

namespace norvale::bench {

inline constexpr char kCg1StartText[] = "100A0000";
inline constexpr char kCg1EndText[] = "1135FFFF";
inline constexpr std::uint32_t kCg1Start = 0x100A0000;
inline constexpr std::uint32_t kCg1Size = 0x12C0000;

// The `dump` part: the dump over a link with no latency, and a copy of a file of the same size
// through the same file layer, 4096 bytes at a time; their times and ratio.
void benchDumpAgainstCopy(const BenchOptions& options, ResultTable& table);

// The `link` part: the same dump where every transfer costs the model's time on the virtual clock;
// the share of the model's limit the tool reaches.
void benchDumpOverLinkModel(const BenchOptions& options, ResultTable& table);

}  // namespace norvale::bench
