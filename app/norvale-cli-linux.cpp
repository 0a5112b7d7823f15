// norvale-cli on Linux: the USB road (libusb), the host's files, a real clock, the terminal.
#include <memory>
#include <string>
#include <vector>

#include "NoDriverRoad.h"
#include "SimulatedRoads.h"
#include "cli/CliProgram.h"
#include "platform/libusb/LibusbPort.h"
#include "platform/posix/AllocatorArenas.h"
#include "platform/posix/PosixClock.h"
#include "platform/posix/PosixConsole.h"
#include "platform/posix/PosixNamedLocks.h"
#include "sim/HostFileSystem.h"
#include "sim/StdThreadStarter.h"

namespace {

// No maker's driver exists here: only the USB road can hold a phone. A libusb that could not
// start finds no device, so the program then says no phone is attached.
std::shared_ptr<norvale::PhoneRoads> usbRoads() {
    using namespace norvale;
    struct Held {
        NoDriverRoad driver;
        LibusbPort usb;
        PosixNamedLocks places{PosixNamedLocks::userRuntimeFolder()};
        PhoneRoads roads{driver, driver, driver, usb, &places};
    };
    auto held = std::make_shared<Held>();
    return {held, &held->roads};
}

}  // namespace

int main(int argc, char** argv) {
    using namespace norvale;
    limitAllocatorArenas();
    PosixConsole console;
    HostFileSystem files(FileNameStyle::posix);
    PosixClock clock;
    StdThreadStarter threads;
    CliBindings bindings{console, files, clock, threads, [&clock](bool simulated) {
                             return simulated ? simulatedRoads(clock) : usbRoads();
                         }};
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runCli(args, bindings);
}
