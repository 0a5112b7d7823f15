// A connected simulated phone and the real portable layers above it, one command at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "TimedDriverPort.h"
#include "TimedFileSystem.h"
#include "core/SessionState.h"
#include "protocol/CommandContext.h"
#include "sim/MemoryDialogView.h"
#include "sim/SimPlatform.h"
#include "ui/ViewLog.h"

namespace norvale::bench {

// Image bytes that differ from the erased flash and from one offset to the next.
Bytes patternBytes(std::size_t size, std::uint8_t seed);
void putFile(const std::filesystem::path& path, const Bytes& bytes);

// What one command's body cost.
struct BodyRun {
    bool succeeded = false;      // the body ran and ended with "Успешно" and no error line
    double wallMs = 0;           // the body, from its first statement to its return
    double simulatorMs = 0;      // of that, inside the simulated driver (see TimedDriverPort)
    double fileMs = 0;           // of that, in the file layer (see TimedFileSystem)
    double modelledLinkMs = 0;   // link time the model charged for the body's transfers
    std::uint64_t requests = 0;  // driver requests the body made
    // Norvale's own time: everything but the simulated driver, the file layer included.
    double ownMs() const { return wallMs - simulatorMs; }
};

// The phone is attached and its interface open, as after an arrival; the working directory is a
// fresh scratch folder holding .\bin\loader.bin, .\bin\LTE2_jump.bin and .\bin\ram.bin, put back
// (and the folder removed) when the rig goes. The simulator keeps no trace: a CG1 dump would
// otherwise leave 40 MB of hex lines in memory.
//
// Commands run as a click would run them (busy set, the worker frame with its loader bootstrap,
// busy cleared), on the calling thread, through the log and dialog view of the programs.
class BenchPhone {
public:
    BenchPhone();
    ~BenchPhone();
    BenchPhone(const BenchPhone&) = delete;
    BenchPhone& operator=(const BenchPhone&) = delete;

    BodyRun run(const CommandBody& body);

    void fields(std::string_view start, std::string_view end);
    // An image file in the scratch folder, picked by the operator at the next file dialog.
    void pickImage(const std::string& name, const Bytes& bytes);
    void setLinkModel(double roundTripMs, double bytesPerMs);
    const std::filesystem::path& folder() const { return folder_; }

    SimPlatform sim;
    TimedDriverPort timedDriver{sim.driver};
    TimedFileSystem timedFiles{sim.files};
    Platform platform{timedDriver, sim.driver,  sim.driver, sim.driver,
                      timedFiles,  sim.chooser, sim.clock,  sim.threads};
    MemoryDialogView view;
    ViewLog log{view};
    SessionState state;
    Services services{state, log, platform, view};

private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};

}  // namespace norvale::bench
