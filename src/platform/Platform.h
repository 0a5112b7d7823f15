// The set of seam implementations one program or test runs on.
#pragma once

#include "platform/Clock.h"
#include "platform/DriverPort.h"
#include "platform/FileChooser.h"
#include "platform/FileSystem.h"
#include "platform/InterfaceEnumerator.h"
#include "platform/RemovalWatch.h"
#include "platform/ThreadStarter.h"
#include "platform/UsbPort.h"

namespace norvale {

// References only: the composition root (app/ or a test) owns the bindings and keeps them alive
// for as long as anything uses this record.
struct Platform {
    // The driver road: control requests, the driver's interfaces, their removal.
    DriverPort& driver;
    InterfaceEnumerator& interfaces;
    RemovalWatch& removalWatch;
    // The USB road: the phone's bulk endpoints, its devices, their removal.
    UsbPort& usb;
    FileSystem& files;
    FileChooser& chooser;
    Clock& clock;
    ThreadStarter& threads;
};

}  // namespace norvale
