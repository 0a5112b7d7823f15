// Every seam bound to the simulator and the host's files, for tests and the benchmark.
#pragma once

#include "HostFileSystem.h"
#include "ScriptedFileChooser.h"
#include "SimDriver.h"
#include "StdThreadStarter.h"
#include "VirtualClock.h"
#include "platform/Platform.h"

namespace norvale {

// Owns the bindings and exposes them as one Platform. Destruction first detaches every phone
// (waking a monitor blocked in its removal watch) and then joins the threads started through it,
// so a test ends with no thread left behind as long as its threads can finish.
class SimPlatform {
public:
    enum class Phone { attached, none };
    // The phone attached at construction stands behind `road`.
    explicit SimPlatform(Phone phone = Phone::attached, Road road = Road::driver);
    SimPlatform(const SimPlatform&) = delete;
    SimPlatform& operator=(const SimPlatform&) = delete;
    ~SimPlatform();

    VirtualClock clock;
    SimDriver driver{clock};
    HostFileSystem files;
    ScriptedFileChooser chooser;
    StdThreadStarter threads;
    Platform platform{driver, driver, driver, driver, files, chooser, clock, threads};

    // The phone attached at construction (0 when there is none).
    SimInterfaceId phoneId = 0;
    SimPhone& phone() { return *driver.phone(phoneId); }
};

}  // namespace norvale
