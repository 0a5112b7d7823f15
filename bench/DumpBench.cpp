// The CG1 dump, timed against a file copy and against the link model.
#include "DumpBench.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "BenchPhone.h"
#include "Median.h"
#include "Stopwatch.h"
#include "operations/FlashRangeReader.h"

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

// Copies a file the way a plain tool would through the same seam: open, create new, then
// 4096-byte reads, each appended to the copy, as the dump appends each reply.
double copyThroughFileLayer(FileSystem& files, std::uint64_t size) {
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
    const double ms = stopwatch.elapsedMs();
    if (std::filesystem::file_size(kCopyTarget) != size) {
        throw std::runtime_error("the copy is short");
    }
    std::filesystem::remove(kCopyTarget);
    return ms;
}

}  // namespace

void benchDumpAgainstCopy(const BenchOptions& options, ResultTable& table) {
    BenchPhone phone;
    putFile(phone.folder() / kCopySource, patternBytes(kCg1Size, 0x5A));
    // One of each first, untimed, so both start with the same warm caches and allocator.
    dumpCg1(phone, true);
    copyThroughFileLayer(phone.sim.files, kCg1Size);

    std::vector<double> dumps;
    std::vector<double> dumpsOwn;
    std::vector<double> dumpsFile;
    std::vector<double> copies;
    std::vector<double> ratios;
    for (int i = 0; i < options.repeat; ++i) {
        const BodyRun dump = dumpCg1(phone, false);
        const double copy = copyThroughFileLayer(phone.sim.files, kCg1Size);
        dumps.push_back(dump.wallMs);
        dumpsOwn.push_back(dump.ownMs());
        dumpsFile.push_back(dump.fileMs);
        copies.push_back(copy);
        ratios.push_back(dump.wallMs / copy);
    }
    const double ratio = median(ratios);
    table.add({"1", "CG1 dump, zero-latency link (body in the worker frame)",
               formatFixed(median(dumps), 1) + " ms", "", std::nullopt});
    table.add({"1", "  of which Norvale's own (outside the simulated driver)",
               formatFixed(median(dumpsOwn), 1) + " ms", "", std::nullopt});
    table.add({"1", "    of which in the file layer (create, appends, close, rename)",
               formatFixed(median(dumpsFile), 1) + " ms", "", std::nullopt});
    table.add({"1", "Copy of a 0x12C0000-byte file, 4096-byte pieces, same file layer",
               formatFixed(median(copies), 1) + " ms", "", std::nullopt});
    table.add({"1", "Dump time / copy time (median of the pairs)", formatFixed(ratio, 2) + "x",
               "<= 2x", ratio <= 2.0});
}

void benchDumpOverLinkModel(const BenchOptions& options, ResultTable& table) {
    BenchPhone phone;
    phone.setLinkModel(options.roundTripMs, options.bytesPerMs);
    dumpCg1(phone, true);

    std::vector<double> own;
    std::vector<double> simulator;
    std::vector<double> files;
    std::vector<double> shares;
    double linkMs = 0;
    std::uint64_t requests = 0;
    for (int i = 0; i < options.repeat; ++i) {
        const BodyRun run = dumpCg1(phone, false);
        linkMs = run.modelledLinkMs;
        requests = run.requests;
        own.push_back(run.ownMs());
        simulator.push_back(run.simulatorMs);
        files.push_back(run.fileMs);
        shares.push_back(run.modelledLinkMs / (run.modelledLinkMs + run.ownMs()));
    }
    const double share = median(shares);
    const std::string model = formatFixed(options.roundTripMs, 2) + " ms per transfer, " +
                              formatFixed(options.bytesPerMs, 0) + " bytes/ms";
    table.add(
        {"2",
         "CG1 dump, modelled link time (" + model + ", " + std::to_string(requests) + " transfers)",
         formatFixed(linkMs, 0) + " ms", "", std::nullopt});
    table.add({"2", "  Norvale's own time (wall time minus time inside the simulated driver)",
               formatFixed(median(own), 1) + " ms", "", std::nullopt});
    table.add({"2", "    of which in the file layer (create, appends, close, rename)",
               formatFixed(median(files), 1) + " ms", "", std::nullopt});
    table.add({"2", "  time inside the simulated driver (not counted)",
               formatFixed(median(simulator), 1) + " ms", "", std::nullopt});
    table.add({"2", "Share of the link model's limit: link / (link + own)",
               formatFixed(100.0 * share, 3) + " %", ">= 99 %", share >= 0.99});
}

}  // namespace norvale::bench
