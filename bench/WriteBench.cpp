// Panic and a 1 MB block range, with Norvale's time per chunk.
#include "WriteBench.h"

#include <stdexcept>
#include <string>

#include "BenchPhone.h"
#include "Median.h"
#include "operations/RegionWriter.h"

namespace norvale::bench {
namespace {

struct WriteCase {
    const char* name;
    CommandBody body;
    const char* startText;  // the fields, for the block range
    const char* endText;
    std::uint32_t flashAddress;
    std::size_t imageSize;
};

void benchWrite(const BenchOptions& options, ResultTable& table, const WriteCase& write) {
    BenchPhone phone;
    const Bytes image = patternBytes(write.imageSize, 0xA5);
    const std::size_t chunks = write.imageSize / 4096;
    phone.fields(write.startText, write.endText);

    std::vector<double> perChunkUs;
    std::vector<double> wallMs;
    for (int i = 0; i <= options.repeat; ++i) {
        phone.pickImage("image.bin", image);
        const BodyRun run = phone.run(write.body);
        if (!run.succeeded) throw std::runtime_error(std::string(write.name) + " did not succeed");
        // The first run is a warm-up (the simulated flash takes its pages then); it is checked,
        // not counted.
        if (i == 0) {
            const Bytes flash =
                phone.sim.driver.withPhone(phone.sim.phoneId, [&](const SimPhone& p) {
                    return p.readFlash(write.flashAddress, write.imageSize);
                });
            if (flash != image) throw std::runtime_error(std::string(write.name) + " wrote wrong");
            continue;
        }
        wallMs.push_back(run.wallMs);
        perChunkUs.push_back(1000.0 * run.ownMs() / static_cast<double>(chunks));
    }
    table.add({"3",
               std::string(write.name) + ", body wall time (" + std::to_string(chunks) +
                   " chunks, image load included)",
               formatFixed(median(wallMs), 2) + " ms", "", std::nullopt});
    table.add({"3", "  Norvale's own time per chunk (outside the simulated driver)",
               formatFixed(median(perChunkUs), 1) + " us", "", std::nullopt});
}

}  // namespace

void benchWrites(const BenchOptions& options, ResultTable& table) {
    benchWrite(options, table,
               {"Write Panic (128 KB)", writePanic, "10010000", "1001FFFF", 0x10020000, 0x20000});
    benchWrite(options, table,
               {"Write block range 10040000-1013FFFF (1 MB)", writeBlockRange, "10040000",
                "1013FFFF", 0x10040000, 0x100000});
}

}  // namespace norvale::bench
