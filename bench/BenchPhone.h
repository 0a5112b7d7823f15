// A connected simulated phone and the real portable layers above it, one command at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "BenchFolder.h"
#include "TimedDriverPort.h"
#include "TimedFileSystem.h"
#include "TimedUsbPort.h"
#include "core/MessageCatalogue.h"
#include "core/SessionState.h"
#include "protocol/CommandContext.h"
#include "sim/MemoryDialogView.h"
#include "sim/SimPlatform.h"
#include "ui/ViewLog.h"

namespace norvale::bench {

// Image bytes that differ from the erased flash and from one offset to the next.
Bytes patternBytes(std::size_t size, std::uint8_t seed);
void putFile(const std::filesystem::path& path, const Bytes& bytes);
// Whether the file holds exactly `expected`.
bool fileHolds(const std::filesystem::path& path, const Bytes& expected);
// The unwritten flash of the simulator's phone `number` from `start` to `end`, both inclusive.
Bytes erasedFlashOf(unsigned number, std::uint32_t start, std::uint32_t end);

// What one command's body cost.
struct BodyRun {
    bool succeeded = false;  // the body ran and ended with success and no error message
    double wallMs = 0;       // the body, from its first statement to its return
    // Processor time during the body: of the thread that ran it (which makes every transfer),
    // and of the whole process (the dump writer's thread too).
    double threadCpuMs = 0;
    double processCpuMs = 0;
    // Of the body thread's processor time, inside the simulated driver or USB port (see
    // TimedDriverPort): the simulator's, not Norvale's.
    double simulatorMs = 0;
    double fileMs = 0;            // wall time in the file layer, on any thread (TimedFileSystem)
    double modelledMs = 0;        // the bus model's time for the body (0 with the model off)
    std::uint64_t transfers = 0;  // driver requests and USB transfers the body made
    // Norvale's own time on the transfer path: what the body's thread spent outside the
    // simulator; the transfers wait for it, the disk's work on the writer's thread aside.
    double ownOnPathMs() const { return threadCpuMs - simulatorMs; }
    // All of Norvale's own work: every thread, the file layer included, the simulator left out.
    double ownMs() const { return processCpuMs - simulatorMs; }
};

// The programs' log pane, which also keeps what a run's success is judged by.
class BenchLog final : public OperationLog {
public:
    explicit BenchLog(DialogView& view) : pane_(view) {}
    void append(const Message& message) override {
        pane_.append(message);
        last_ = message.id;
        if (isErrorMessage(message.id)) sawError_ = true;
    }
    void clear() {
        last_.reset();
        sawError_ = false;
    }
    bool endedWithSuccess() const { return !sawError_ && last_ == MessageId::success; }

private:
    ViewLog pane_;
    std::optional<MessageId> last_;
    bool sawError_ = false;
};

// The phone is attached on `road` and open, as after an arrival (the USB road's reply streams
// keep `usbReadAhead` transfers in flight); the working directory is a BenchFolder for as long
// as the rig lives. The simulator keeps no trace: a CG1 dump would
// otherwise leave 40 MB of hex lines in memory.
//
// Commands run as a click would run them (busy set, the worker frame with its loader bootstrap,
// busy cleared), on the calling thread, through the log and dialog view of the programs.
class BenchPhone {
public:
    explicit BenchPhone(Road road = Road::driver, std::size_t usbReadAhead = kUsbReadAhead);
    ~BenchPhone();
    BenchPhone(const BenchPhone&) = delete;
    BenchPhone& operator=(const BenchPhone&) = delete;

    BodyRun run(const CommandBody& body);

    void fields(std::string_view start, std::string_view end);
    // An image file in the scratch folder, picked by the operator at the next file dialog.
    void pickImage(const std::string& name, const Bytes& bytes);
    // USB full speed on the virtual clock for every transfer (see SimDriver::modelFullSpeed).
    void modelFullSpeed() { sim.driver.modelFullSpeed(true); }
    const std::filesystem::path& folder() const { return folder_.path(); }

    SimPlatform sim{SimPlatform::Phone::none};
    TimedDriverPort timedDriver{sim.driver};
    TimedUsbPort timedUsb{sim.driver};
    TimedFileSystem timedFiles{sim.files};
    Platform platform{timedDriver, sim.driver,  sim.driver, timedUsb,
                      timedFiles,  sim.chooser, sim.clock,  sim.threads};
    MemoryDialogView view;
    BenchLog log{view};
    SessionState state;
    Services services{state, log, platform, view};

private:
    BenchFolder folder_;
};

}  // namespace norvale::bench
