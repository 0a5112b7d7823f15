// What a dry run prints: each command's blocks, reads and files, and how long its transfers take.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/CliArguments.h"
#include "operations/TransferEstimate.h"

namespace norvale {

// What the files a run names told before any phone was asked.
struct PreparedRun {
    // The image of each write, and the three of each restore, in the run's order.
    std::vector<std::uint64_t> imageSizes;
    LoaderImageSizes loaders;
};

// The plan of `line`, whose steps have every name chosen (a read's default file name, a backup's
// folder), as the lines a dry run prints, in English like the help: for each command its name,
// then one line per read ("read START-END (N bytes) into FILE", "... to compare", "... to
// verify"), per block written ("write block ADDRESS (N bytes) from image bytes FIRST-LAST", or
// "candidate block ..." where only a block that differs is written) and per other file made;
// last, the time the transfers take on a full-speed link (TransferEstimate), every candidate
// block counted as written.
std::vector<std::string> dryRunPlan(const CommandLine& line, const PreparedRun& prepared);

}  // namespace norvale
