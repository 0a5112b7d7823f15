// What a face hands the station engine: the platform's parts and how it speaks.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "core/MessageCatalogue.h"
#include "platform/Clock.h"
#include "platform/DriverPort.h"
#include "platform/FileSystem.h"
#include "platform/InterfaceEnumerator.h"
#include "platform/NamedLocks.h"
#include "platform/RemovalWatch.h"
#include "platform/ThreadStarter.h"
#include "platform/UsbPort.h"
#include "station/ConsoleText.h"
#include "station/UtcStamp.h"

namespace norvale {

// The seams behind the phones' two roads, as one composition hands them over.
struct PhoneRoads {
    DriverPort& driver;
    InterfaceEnumerator& interfaces;
    RemovalWatch& removalWatch;
    UsbPort& usb;
    // Who serves which phone across the computer's programs; null: no one else can (a rig's
    // phones that no other program sees).
    NamedLocks* placeLocks = nullptr;
};

// The roads for one run: the real ones, or the simulator's when `simulated`. Called at most once,
// after the plan and the files it names were found sound, so a refused run opens nothing; what
// it returns stays alive as long as the returned pointer. Null: no road can be had, as with no
// phone attached.
using OpenRoads = std::function<std::shared_ptr<PhoneRoads>(bool simulated)>;

using WallClock = std::function<WallTime()>;

// Makes `folder` the process's working folder, as if the program had been started in it: each
// phone's folder is made there and the loaders and the configuration file are taken from there.
// The working folder is the whole process's, so only the face that owns the process changes it;
// false when the folder can't be entered.
using EnterFolder = std::function<bool(const std::string& folder)>;

// Every reference outlives the engine.
struct StationBindings {
    FileSystem& files;
    Clock& clock;  // the sessions' waits and the station's pace
    ThreadStarter& threads;
    OpenRoads openRoads;
    // Locations and file names, in the system's narrow encoding, as UTF-8 for rows and journal.
    NativeToUtf8 nativeToUtf8;
    // The language of the error lines the journal keeps and the rows' reasons.
    Language language = Language::english;
    // The journal's times and the folders' names.
    WallClock wallClock = [] { return std::chrono::system_clock::now(); };
    // A plan with a working folder is refused without it.
    EnterFolder enterFolder = nullptr;
    // When given, paces the station's own loop instead of `clock` (a benchmark whose clock is
    // modelled time).
    Clock* loopClock = nullptr;
    // How many finished phones' rows the station keeps for its faces beside the running ones:
    // the latest, so a shift's memory and each copy's work stay the same from the hundredth phone
    // on. Every phone stays in the journal and its folder.
    std::size_t finishedRowsKept = 300;
};

}  // namespace norvale
