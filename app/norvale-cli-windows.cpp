// norvale-cli.exe: the driver road and WinUSB, the Windows files, clock and console.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "SimulatedRoads.h"
#include "cli/CliProgram.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32Console.h"
#include "platform/win32/Win32DriverPort.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32InterfaceEnumerator.h"
#include "platform/win32/Win32NamedLocks.h"
#include "platform/win32/Win32RemovalWatch.h"
#include "platform/win32/Win32ThreadStarter.h"
#include "platform/win32/WinUsbPort.h"

namespace {

// Both roads, as the dialog has them: the maker's driver, and a phone given the WinUSB driver.
std::shared_ptr<norvale::PhoneRoads> phoneRoads() {
    using namespace norvale;
    struct Held {
        Win32DriverPort driver;
        Win32InterfaceEnumerator interfaces;
        Win32RemovalWatch removalWatch;
        WinUsbPort usb;
        Win32NamedLocks places;
        PhoneRoads roads{driver, interfaces, removalWatch, usb, &places};
    };
    auto held = std::make_shared<Held>();
    return {held, &held->roads};
}

}  // namespace

int main(int argc, char** argv) {
    using namespace norvale;
    Win32Console console;
    Win32FileSystem files;
    Win32Clock clock;
    Win32ThreadStarter threads;
    CliBindings bindings{console, files, clock, threads, [&clock](bool simulated) {
                             return simulated ? simulatedRoads(clock) : phoneRoads();
                         }};
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runCli(args, bindings);
}
