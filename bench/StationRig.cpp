// The station rig: one session, one thread, one simulator and one bus per phone.
#include "StationRig.h"

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "BenchPhone.h"
#include "CpuClock.h"
#include "Stopwatch.h"
#include "TimedUsbPort.h"
#include "cli/CliArguments.h"
#include "operations/FolderPath.h"
#include "presence/AttachedPhones.h"
#include "presence/PresenceHandling.h"
#include "sim/MemoryDialogView.h"
#include "sim/SimPlatform.h"
#include "station/BackupSet.h"
#include "station/ChainFiles.h"
#include "station/PhoneChain.h"

namespace norvale::bench {
namespace {

constexpr char kImageName[] = "pds.bin";
constexpr std::uint32_t kPdsStart = 0x10010000;
constexpr std::size_t kPdsSize = 0x10000;

// Holds the phones' threads until all are made, so they start together. A mutex and a condition
// variable rather than std::latch: the standard library's atomic waits can miss a wake in the
// Windows builds, which have no futex.
class StartGate {
public:
    void pass() {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [this] { return open_; });
    }
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

}  // namespace

// The chain every phone runs and its images, read once for all phones, as a station reads them.
struct StationRig::Chain {
    std::vector<CliStep> steps;
    std::vector<SharedImage> images;
};

class StationRig::Phone {
public:
    Phone(unsigned number, const Chain& chain) : number_(number), chain_(chain) {
        sim.driver.keepTrace(false);
        sim.driver.modelFullSpeed(true);
        SimInterfaceOptions options;
        options.road = Road::usb;
        options.devicePath = "sim-" + std::to_string(number);
        SimPhoneOptions flash;
        flash.erasedFlashMask = SimPhone::erasedFlashMaskOf(number);
        const auto phone = std::make_shared<SimPhone>(flash);
        // The simulator keeps written flash in pages made at the first write; PDS rewritten with
        // what it holds makes them now, so the run's memory is the program's, not the
        // simulator's. The phone's contents stay as they were.
        phone->writeFlash(kPdsStart, erasedFlashOf(number, kPdsStart, kPdsStart + kPdsSize - 1));
        sim.driver.attach(options, phone);
    }

    // The phone's whole run, on the calling thread, which stands for the session's own.
    void serve() {
        const double threadBefore = threadCpuMs();
        failure_ = chain();
        run_.threadCpuMs = threadCpuMs() - threadBefore;
        run_.simulatorMs = timedUsb_.insideMs();
        run_.time.modelledMs = sim.driver.modelledMs();
        run_.time.ownOnPathMs = run_.threadCpuMs - run_.simulatorMs;
        run_.time.bytes = static_cast<double>(bytesPerPhone());
    }

    const RigPhoneRun& result() const { return run_; }

    // After serve(), on the thread that made the rig: the files and the flash checked, the
    // files removed; what went wrong, or empty.
    std::string check() {
        const std::string failure = failure_.empty() ? exactness() : failure_;
        std::error_code ignored;
        std::filesystem::remove_all(folder(), ignored);
        return failure;
    }

    SimPlatform sim{SimPlatform::Phone::none};

private:
    std::string folder() const { return "phone-" + std::to_string(number_); }
    std::string inFolder(std::string_view name) const { return folder() + "/" + std::string(name); }

    // As a station serves a phone that arrived (its session, its arrival, its outputs settled
    // in its folder, then the chain), with the run's images shared by every phone.
    std::string chain() {
        const DriverPhoneLink driverLink(platform_.driver);
        const std::vector<AttachedPhone> attached = listAttachedPhones(platform_, driverLink);
        if (attached.size() != 1) return "the phone is not listed";
        handleArrivalOf(services_, openAttachedPhone(platform_, attached.front()));
        if (createFolderPath(platform_.files, folder()) != FileError::none) {
            return "the phone's folder can't be made";
        }

        std::vector<CliStep> steps = chain_.steps;
        settleChainOutputs(steps, folder(), folder(), platform_.files);
        PhoneChain chain(services_, steps, chain_.images, attached.front());
        if (chain.run() != ExitCode::done) return "the chain failed";
        return {};
    }

    std::string exactness() {
        for (const BackupRegion& region : kBackupRegions) {
            if (!fileHolds(inFolder(region.fileName),
                           erasedFlashOf(number_, region.start, region.end))) {
                return std::string(region.fileName) + " does not hold its own phone's flash";
            }
        }
        std::string sums;
        for (const BackupRegion& region : kBackupRegions) {
            sums += checksumLine(erasedFlashOf(number_, region.start, region.end), region.fileName);
        }
        if (!fileHolds(inFolder(kChecksumsFileName), Bytes(sums.begin(), sums.end()))) {
            return "SHA256SUMS is wrong";
        }
        const bool written =
            sim.driver.withPhone(sim.driver.interfaceIds().front(), [&](const SimPhone& phone) {
                return phone.readFlash(kPdsStart, kPdsSize) == *chain_.images.front();
            });
        return written ? std::string() : "the phone's PDS does not hold the image";
    }

    unsigned number_;
    const Chain& chain_;
    TimedUsbPort timedUsb_{sim.driver};
    Platform platform_{sim.driver, sim.driver,  sim.driver, timedUsb_,
                       sim.files,  sim.chooser, sim.clock,  sim.threads};
    MemoryDialogView view_;
    BenchLog log_{view_};
    SessionState state_;
    Services services_{state_, log_, platform_, view_};
    RigPhoneRun run_;
    std::string failure_;
};

StationRig::StationRig(unsigned count) : chain_(std::make_unique<Chain>()) {
    putFile(kImageName, patternBytes(kPdsSize, 0x5C));
    const std::vector<std::string> typed{"backup", "write", "pds", kImageName};
    chain_->steps = parseCommandLine(typed).steps;
    HostFileSystem files;
    if (loadChainImages(files, chain_->steps, chain_->images)) {
        throw std::runtime_error("the station's image can't be read");
    }
    for (unsigned number = 1; number <= count; ++number) {
        phones_.push_back(std::make_unique<Phone>(number, *chain_));
    }
}

StationRig::~StationRig() = default;

std::uint64_t StationRig::bytesPerPhone() {
    std::uint64_t bytes = 2 * kPdsSize;
    for (const BackupRegion& region : kBackupRegions) bytes += region.size();
    return bytes;
}

RigRun StationRig::run(bool atOnce) {
    RigRun result;
    StartGate start;
    std::vector<std::thread> threads;
    const double processBefore = processCpuMs();
    const Stopwatch stopwatch;
    for (const auto& phone : phones_) {
        threads.emplace_back([&start, &phone, atOnce] {
            if (atOnce) start.pass();
            phone->serve();
        });
        if (!atOnce) threads.back().join();
    }
    if (atOnce) {
        start.open();
        for (std::thread& thread : threads) thread.join();
    }
    result.wallMs = stopwatch.elapsedMs();
    result.processCpuMs = processCpuMs() - processBefore;
    for (const auto& phone : phones_) result.phones.push_back(phone->result());
    return result;
}

void StationRig::flushToDisk(bool on) {
    for (const auto& phone : phones_) phone->sim.files.flushToDisk(on);
}

std::string StationRig::check() {
    std::string first;
    for (std::size_t k = 0; k < phones_.size(); ++k) {
        const std::string failure = phones_[k]->check();
        if (first.empty() && !failure.empty()) {
            first = "phone " + std::to_string(k + 1) + ": " + failure;
        }
    }
    return first;
}

double RigRun::ownCpuMs() const {
    double simulator = 0;
    for (const RigPhoneRun& phone : phones) simulator += phone.simulatorMs;
    return processCpuMs - simulator;
}

}  // namespace norvale::bench
