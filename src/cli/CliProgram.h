// norvale-cli as a function: the arguments in, the exit code out, the console in between.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>

#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/DriverPort.h"
#include "platform/FileSystem.h"
#include "platform/InterfaceEnumerator.h"
#include "platform/RemovalWatch.h"
#include "platform/ThreadStarter.h"
#include "platform/UsbPort.h"
#include "station/StationBindings.h"

namespace norvale {

// What a composition root (app/, or a test) gives the command line.
struct CliBindings {
    Console& console;
    FileSystem& files;
    Clock& clock;
    ThreadStarter& threads;
    // The roads for one run: the real ones, or the simulator's when `simulated` (--sim). Called at
    // most once, after the arguments and the files they name were found sound, so a refused
    // command line opens nothing; what it returns stays alive as long as the returned pointer.
    // Null: no road can be had, as with no phone attached.
    OpenRoads openRoads;
};

// The station engine's share of `bindings`; it speaks `language`.
StationBindings stationBindings(CliBindings& bindings, Language language);

// Runs the command line `args` (without the program's name) and returns the exit code.
int runCli(std::span<const std::string> args, CliBindings& bindings);

}  // namespace norvale
