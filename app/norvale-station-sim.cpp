// norvale-station-sim.exe: the same station window over the simulated phones the environment
// describes (NORVALE_SIM_PHONES, NORVALE_SIM_ARRIVE, NORVALE_SIM_RETURN, NORVALE_SIM_FAULTS,
// NORVALE_SIM_ROAD, NORVALE_SIM_TRACE), for tests, demonstrations and training.
#include <windows.h>

#include <memory>

#include "CommandLineRecipes.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32ThreadStarter.h"
#include "sim/SimDriver.h"
#include "sim/SimPlaceLocks.h"
#include "station/StationBindings.h"
#include "ui/win32/StationProgram.h"

// The simulator stands in for both roads only; files, sleeping and threads are the real ones, so
// the program behaves as the product does in everything but the phones. The phones live as long
// as the program, so a phone that comes back after a Stop and a new Start is the same phone.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace norvale;
    Win32Clock clock;
    auto sim = SimDriver::fromEnvironment(clock);
    SimPlaceLocks places;
    PhoneRoads roads{*sim, *sim, *sim, *sim, &places};
    Win32FileSystem files;
    Win32ThreadStarter threads;
    // The roads live as long as the program: the engine's share of them owns nothing.
    const OpenRoads openRoads = [&roads](bool) {
        return std::shared_ptr<PhoneRoads>(&roads, [](PhoneRoads*) {});
    };
    // The program sets the language and the narrow text's conversion.
    StationBindings bindings{files, clock, threads, openRoads, {}};
    return runStationProgram(instance, bindings, true, stationOptions(GetCommandLineW()),
                             commandLineRecipes(bindings));
}
