// The CG1 dump, timed against a file copy and against the link model.
#include "DumpBench.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "BenchPhone.h"
#include "CpuClock.h"
#include "Median.h"
#include "Stopwatch.h"
#include "operations/FlashRangeReader.h"
#include "protocol/FullSpeedBus.h"

namespace norvale::bench {
namespace {

constexpr char kDumpName[] = "CG1.bin";
constexpr char kCopySource[] = "copy-source.bin";
constexpr char kCopyTarget[] = "copy-target.bin";
constexpr std::size_t kPiece = 4096;

// Whether the dump holds exactly the erased flash of CG1, byte for byte.
bool dumpIsCg1(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> piece(1 << 16);
    std::uint32_t address = kCg1Start;
    std::uint64_t total = 0;
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        for (std::size_t i = 0; i < got; ++i) {
            if (static_cast<std::uint8_t>(piece[i]) != SimPhone::erasedFlashByte(address++)) {
                return false;
            }
        }
        total += got;
    }
    return total == kCg1Size;
}

// One dump of CG1 into a new file; the file is removed afterwards.
BodyRun dumpCg1(BenchPhone& phone, bool verify) {
    phone.fields(kCg1StartText, kCg1EndText);
    const BodyRun run = phone.run(readRangeToFile);
    if (!run.succeeded) throw std::runtime_error("the CG1 dump did not succeed");
    if (verify && !dumpIsCg1(phone.folder() / kDumpName)) {
        throw std::runtime_error("the CG1 dump does not hold the phone's flash");
    }
    std::filesystem::remove(phone.folder() / kDumpName);
    return run;
}

// The processor time (all threads) and wall time of a copy of a file the way a plain tool would
// copy it through the same seam: open, create new, then 4096-byte reads, each appended to the
// copy, as the dump appends each reply.
struct CopyRun {
    double cpuMs = 0;
    double wallMs = 0;
};
CopyRun copyThroughFileLayer(FileSystem& files, std::uint64_t size) {
    const double cpuBefore = processCpuMs();
    const Stopwatch stopwatch;
    {
        const OpenedFile source = files.openForReading(kCopySource);
        const OpenedFile target = files.createNew(kCopyTarget);
        if (!source.file || !target.file) throw std::runtime_error("the copy's files won't open");
        std::vector<std::uint8_t> piece(kPiece);
        for (std::uint64_t done = 0; done < size; done += kPiece) {
            if (!source.file->readExact(piece) || !target.file->append(piece)) {
                throw std::runtime_error("the copy failed");
            }
        }
    }
    const CopyRun run{processCpuMs() - cpuBefore, stopwatch.elapsedMs()};
    if (std::filesystem::file_size(kCopyTarget) != size) {
        throw std::runtime_error("the copy is short");
    }
    std::filesystem::remove(kCopyTarget);
    return run;
}

// The dump's rate against what the bus carries at best: its bytes over the modelled time plus
// Norvale's own time on the transfer path, counted as if the transfers waited for all of it.
// (With transfers queued ahead they wait for none of it while it stays short of the queue.)
double shareOfByteLimit(const BodyRun& run) {
    const double bytesPerMs = FullSpeedBus::kSlotsPerFrame * FullSpeedBus::kPacketBytes;
    return static_cast<double>(kCg1Size) / (run.modelledMs + run.ownOnPathMs()) / bytesPerMs;
}

struct RoadCase {
    const char* name;
    Road road;
    std::size_t usbReadAhead;
};

// The median figures of one road over the model.
struct RoadFigures {
    double modelledMs = 0;
    double ownOnPathMs = 0;
    double perTransferUs = 0;
    double share = 0;         // of the byte limit
    double shareOfModel = 0;  // modelled / (modelled + own on the path)
    std::uint64_t transfers = 0;
};

RoadFigures dumpOverModel(const BenchOptions& options, const RoadCase& road) {
    BenchPhone phone(road.road, road.usbReadAhead);
    phone.modelFullSpeed();
    dumpCg1(phone, true);
    std::vector<double> modelled, own, perTransfer, shares, ofModel;
    RoadFigures figures;
    for (int i = 0; i < options.repeat; ++i) {
        const BodyRun run = dumpCg1(phone, false);
        figures.transfers = run.transfers;
        modelled.push_back(run.modelledMs);
        own.push_back(run.ownOnPathMs());
        perTransfer.push_back(1000.0 * run.ownOnPathMs() / static_cast<double>(run.transfers));
        shares.push_back(shareOfByteLimit(run));
        ofModel.push_back(run.modelledMs / (run.modelledMs + run.ownOnPathMs()));
    }
    figures.modelledMs = median(modelled);
    figures.ownOnPathMs = median(own);
    figures.perTransferUs = median(perTransfer);
    figures.share = median(shares);
    figures.shareOfModel = median(ofModel);
    return figures;
}

}  // namespace

void benchDumpAgainstCopy(const BenchOptions& options, ResultTable& table) {
    BenchPhone phone;
    putFile(phone.folder() / kCopySource, patternBytes(kCg1Size, 0x5A));
    // One of each first, untimed, so both start with the same warm caches and allocator.
    dumpCg1(phone, true);
    copyThroughFileLayer(phone.sim.files, kCg1Size);

    std::vector<double> walls, own, onPath, files, copies, copyWalls, ratios;
    for (int i = 0; i < options.repeat; ++i) {
        const BodyRun dump = dumpCg1(phone, false);
        const CopyRun copy = copyThroughFileLayer(phone.sim.files, kCg1Size);
        walls.push_back(dump.wallMs);
        own.push_back(dump.ownMs());
        onPath.push_back(dump.ownOnPathMs());
        files.push_back(dump.fileMs);
        copies.push_back(copy.cpuMs);
        copyWalls.push_back(copy.wallMs);
        ratios.push_back(dump.ownMs() / copy.cpuMs);
    }
    const double ratio = median(ratios);
    table.add({"1", "CG1 dump, driver road, no bus model: body wall time",
               formatFixed(median(walls), 1) + " ms", "", std::nullopt});
    table.add({"1", "  Norvale's own processor time (all threads, outside the simulator)",
               formatFixed(median(own), 1) + " ms", "", std::nullopt});
    table.add({"1", "    of which on the transfer path (the worker thread)",
               formatFixed(median(onPath), 1) + " ms", "", std::nullopt});
    table.add({"1", "  wall time in the file layer (create, appends, close, rename)",
               formatFixed(median(files), 1) + " ms", "", std::nullopt});
    table.add(
        {"1", "Copy of a 0x12C0000-byte file, 4096-byte pieces, same file layer: processor",
         formatFixed(median(copies), 1) + " ms (wall " + formatFixed(median(copyWalls), 1) + " ms)",
         "", std::nullopt});
    table.add({"1", "Norvale's own time for the dump / the copy's (median of the pairs)",
               formatFixed(ratio, 2) + "x", "<= 1.1x", ratio <= 1.1});
}

void benchDumpOverLinkModel(const BenchOptions& options, ResultTable& table) {
    const RoadCase cases[] = {
        {"driver road, one read at a time", Road::driver, kUsbReadAhead},
        {"USB road, 4 bulk IN transfers in flight", Road::usb, kUsbReadAhead},
        {"USB road, one transfer at a time (for comparison)", Road::usb, 1},
    };
    for (const RoadCase& road : cases) {
        const RoadFigures figures = dumpOverModel(options, road);
        const bool isDriver = road.road == Road::driver;
        const bool isStreamed = road.road == Road::usb && road.usbReadAhead > 1;
        table.add({"2",
                   std::string("CG1 dump, ") + road.name + ": modelled time (" +
                       std::to_string(figures.transfers) + " transfers)",
                   formatFixed(figures.modelledMs, 1) + " ms", "", std::nullopt});
        table.add({"2", "  Norvale's own time on the transfer path (per transfer)",
                   formatFixed(figures.ownOnPathMs, 1) + " ms (" +
                       formatFixed(figures.perTransferUs, 2) + " us)",
                   "", std::nullopt});
        if (isDriver) {
            table.add({"2", "  share of its own model: modelled / (modelled + own on the path)",
                       formatFixed(100.0 * figures.shareOfModel, 3) + " %", ">= 99.9 %",
                       figures.shareOfModel >= 0.999});
        }
        table.add({"2", "  rate as a share of the bus's byte limit (1216 bytes/ms)",
                   formatFixed(100.0 * figures.share, 2) + " %", isStreamed ? ">= 98 %" : "",
                   isStreamed ? std::optional<bool>(figures.share >= 0.98) : std::nullopt});
    }
    table.note("#2: USB full speed on the virtual clock: 1 ms frames of at most 19 bulk packets "
               "of 64 bytes; a transfer submitted during a frame starts in the next one; the "
               "rate counts Norvale's own time on the transfer path as if every transfer waited "
               "for it");
}

}  // namespace norvale::bench
