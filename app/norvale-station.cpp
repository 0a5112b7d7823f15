// norvale-station.exe: the station window over the real roads (the maker's driver and WinUSB),
// the Windows files, clock and threads.
#include <windows.h>

#include <memory>

#include "CommandLineRecipes.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32DriverPort.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32InterfaceEnumerator.h"
#include "platform/win32/Win32NamedLocks.h"
#include "platform/win32/Win32RemovalWatch.h"
#include "platform/win32/Win32ThreadStarter.h"
#include "platform/win32/WinUsbPort.h"
#include "station/StationBindings.h"
#include "ui/win32/StationProgram.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace norvale;
    Win32DriverPort driver;
    Win32InterfaceEnumerator interfaces;
    Win32RemovalWatch removalWatch;
    WinUsbPort usb;
    Win32NamedLocks places;
    PhoneRoads roads{driver, interfaces, removalWatch, usb, &places};
    Win32FileSystem files;
    Win32Clock clock;
    Win32ThreadStarter threads;
    // The roads live as long as the program: the engine's share of them owns nothing.
    const OpenRoads openRoads = [&roads](bool) {
        return std::shared_ptr<PhoneRoads>(&roads, [](PhoneRoads*) {});
    };
    // The program sets the language and the narrow text's conversion.
    StationBindings bindings{files, clock, threads, openRoads, {}};
    return runStationProgram(instance, bindings, false, stationOptions(GetCommandLineW()),
                             commandLineRecipes(bindings));
}
