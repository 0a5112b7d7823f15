// Several simulated phones served at once, each in a session of its own on a thread of its own,
// each behind a full-speed bus of its own on a clock of its own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "StationRate.h"
#include "core/Message.h"

namespace norvale::bench {

// What one phone's run cost and whether it came out right.
struct RigPhoneRun {
    PhoneTime time;
    double threadCpuMs = 0;  // its session's thread, the simulator included
    double simulatorMs = 0;  // of that, inside the simulated USB port
};

struct RigRun {
    std::vector<RigPhoneRun> phones;
    double processCpuMs = 0;  // every thread of the process during the run
    double wallMs = 0;
    // Norvale's processor time on all threads: the process's less the simulator's.
    double ownCpuMs() const;
};

// `count` phones, numbered 1 to count, each a simulated phone with flash of its own
// (SimPhone::erasedFlashMaskOf), attached on the USB road at location sim-K to a simulator of its
// own whose virtual clock and full-speed bus model no other phone shares, as phones behind a hub
// with a transaction translator per port. Made in the working directory (a BenchFolder), where
// each phone's files go to a folder phone-K and the one PDS image all phones are written with is
// pds.bin. The simulator's pages for each phone's PDS are made before any run (see the
// constructor), so a run's memory growth is the program's.
//
// run() serves every phone as a station does, through the real portable code: on the phone's
// own thread its arrival (listed, opened, its boot version and mode read: a new session state),
// its outputs settled in its folder, then the station's chain `backup write pds pds.bin`
// (PhoneChain: Boot, PDS and Panic each read into a file by the dump writer, SHA256SUMS hashed
// from the files as they lie on disk, then PDS written and verified), with pds.bin read once
// before any phone and shared by all. What it leaves out of a station is the watch over the
// roads and the table. `atOnce`: all threads start together; otherwise each phone's thread
// starts once the one before it has ended.
//
// check(), after a run: the first phone whose run failed, or whose dumps or SHA256SUMS differ
// from its own phone's flash, or whose PDS does not hold the image (with its number), or empty;
// the phones' files are removed. Kept apart from run() so that a run's peak memory is its own.
class StationRig {
public:
    explicit StationRig(unsigned count);
    ~StationRig();
    StationRig(const StationRig&) = delete;
    StationRig& operator=(const StationRig&) = delete;

    RigRun run(bool atOnce);
    std::string check();
    // With false, the phones' files are not flushed to the disk before they are named, nor
    // their folders after (HostFileSystem::flushToDisk): what the flushes cost is the difference.
    void flushToDisk(bool on);

    // The flash bytes one phone's run moves: the three regions read, PDS written and read back.
    static std::uint64_t bytesPerPhone();

private:
    struct Chain;
    class Phone;
    std::unique_ptr<Chain> chain_;  // outlives the phones, which share it
    std::vector<std::unique_ptr<Phone>> phones_;
};

}  // namespace norvale::bench
