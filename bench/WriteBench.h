// The write commands: what Norvale adds to each 4096-byte chunk it sends.
#pragma once

#include "BenchOptions.h"
#include "ResultTable.h"

namespace norvale::bench {

// The `writes` part: "Записать Panic" (128 KB, 32 chunks) and "Записать б. блок" over
// 10040000 to 1013FFFF (eight 128 KB blocks, 256 chunks), over a link with no latency.
void benchWrites(const BenchOptions& options, ResultTable& table);

}  // namespace norvale::bench
