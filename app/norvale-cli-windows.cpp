// norvale-cli.exe: the driver road and WinUSB, the Windows files, clock and console.
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "SimulatedRoads.h"
#include "cli/CliProgram.h"
#include "platform/win32/WideName.h"
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

// The arguments as UTF-8, read from the wide command line: main()'s would be in the ANSI code
// page, where a name outside it is already lost (best-fit or '?') before the program sees it.
std::vector<std::string> utf8Arguments() {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    if (words == nullptr) return args;
    for (int i = 1; i < count; ++i) args.push_back(norvale::utf8Name(words[i]));
    LocalFree(words);
    return args;
}

}  // namespace

int main() {
    using namespace norvale;
    Win32Console console;
    Win32FileSystem files;
    Win32Clock clock;
    Win32ThreadStarter threads;
    CliBindings bindings{console, files, clock, threads, [&clock](bool simulated) {
                             return simulated ? simulatedRoads(clock) : phoneRoads();
                         }};
    // Every name is UTF-8 from here on, as the file seam opens them.
    const std::vector<std::string> args = utf8Arguments();
    return runCli(args, bindings);
}
