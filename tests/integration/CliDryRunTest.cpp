// norvale-cli --dry-run against what the same command line then does to the simulated phone: the
// plan names the blocks written, the ranges read and the files made, and sends nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "CliRig.h"
#include "protocol/CommandFormats.h"

namespace norvale {
namespace {

using namespace norvale::testing;
using Lines = std::vector<std::string>;

// What a dry run's lines promise, in the trace's own terms.
struct Promised {
    Lines blocks;  // the 'F' command's address line of each block written
    Lines reads;   // each read request
    Lines files;   // each file made
    double seconds = -1;
};

Promised promised(const std::string& out) {
    static const std::regex block("  (write|candidate) block ([0-9A-F]{8}) .*");
    static const std::regex read("  read ([0-9A-F]{8})-[0-9A-F]{8} \\(([0-9]+) bytes\\) (.*)");
    static const std::regex create("  create (.*)");
    static const std::regex total("Transfers on a full-speed USB link, one at a time: about "
                                  "([0-9]+\\.[0-9]) s.*");
    Promised plan;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, block)) {
            plan.blocks.push_back(written(encodeAddress(*parseStrictHexAddress(m[2].str()))));
        } else if (std::regex_match(line, m, read)) {
            plan.reads.push_back(written(buildReadRequest(
                *parseStrictHexAddress(m[1].str()), static_cast<std::uint32_t>(std::stoul(m[2])))));
            if (m[3].str().rfind("into ", 0) == 0) plan.files.push_back(m[3].str().substr(5));
        } else if (std::regex_match(line, m, create)) {
            plan.files.push_back(m[1].str());
        } else if (std::regex_match(line, m, total)) {
            plan.seconds = std::stod(m[1].str());
        }
    }
    return plan;
}

// What the trace shows the run did, in the same terms.
Promised done(const Lines& trace) {
    Promised run;
    const std::string flash = writtenHex("46");
    const std::string readPrefix = writtenHex("52");
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (trace[i] == flash && i + 1 < trace.size()) run.blocks.push_back(trace[i + 1]);
        if (trace[i].rfind(readPrefix, 0) == 0 && trace[i].size() == readPrefix.size() + 16) {
            run.reads.push_back(trace[i]);
        }
    }
    return run;
}

TEST(CliDryRun, EachCommandsPlanIsWhatTheRunThenDoesAndTheDryRunSendsNothing) {
    CliRig rig;
    putFile("pds.img", patternImage(0x10000, 0x11));
    putFile("boot.img", patternImage(0x10000, 0x12));
    // Three large blocks, the last chunk of the third 3000 bytes long.
    putFile("range.img", patternImage(0x60000 - 4096 + 3000, 0x13));
    ASSERT_EQ(rig.run({"-q", "backup", "saved"}).code, 0);
    // Every block the restore covers now differs from the backup, so each candidate is written.
    rig.driver.phone(rig.phoneId)->writeFlash(0x10000000, patternImage(0x40000, 0x14));
    rig.driver.modelFullSpeed(true);

    const std::vector<Lines> commandLines{
        {"read", "pds", "-o", "r.bin"},
        {"write", "pds", "pds.img"},
        {"write", "10040000-1009FFFF", "range.img", "--backup", "before.bin", "--no-verify"},
        {"write", "boot", "boot.img", "--changed-only"},
        {"backup", "b"},
        {"restore", "saved", "--no-backup"},
        {"info", "blank", "list", "start"},
    };
    for (const Lines& args : commandLines) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        rig.driver.clearTrace();
        const int opened = rig.roadsOpened;
        Lines dry{"--dry-run"};
        dry.insert(dry.end(), args.begin(), args.end());
        const auto plan = rig.run(dry);
        EXPECT_EQ(plan.code, 0) << plan.err;
        EXPECT_EQ(plan.err, "");
        EXPECT_EQ(rig.roadsOpened, opened) << "a dry run opened the roads";
        EXPECT_TRUE(rig.driver.trace().empty());
        const Promised promise = promised(plan.out);
        for (const std::string& file : promise.files) {
            EXPECT_FALSE(std::filesystem::exists(file)) << file << " made by a dry run";
        }

        const double before = rig.driver.modelledMs();
        const auto real = rig.run(args);
        EXPECT_EQ(real.code, 0) << real.err;
        const Promised run = done(rig.driver.trace());
        EXPECT_EQ(promise.blocks, run.blocks) << plan.out;
        EXPECT_EQ(promise.reads, run.reads) << plan.out;
        for (const std::string& file : promise.files) {
            EXPECT_TRUE(std::filesystem::exists(file)) << file;
        }
        // The estimate is the bus model's time for these very transfers, to its 0.1 s.
        const double modelled = (rig.driver.modelledMs() - before) / 1000.0;
        EXPECT_NEAR(promise.seconds, modelled, 0.051) << plan.out;
    }
}

TEST(CliDryRun, ThePlanSpellsOutBlocksReadsAndFiles) {
    CliRig rig;
    putFile("pds.img", patternImage(0x10000, 0x11));
    const auto plan = rig.run({"--dry-run", "write", "pds", "pds.img", "--backup", "old.bin",
                               "--changed-only", "read", "10030000-1003FFFF"});
    EXPECT_EQ(plan.code, 0) << plan.err;
    const std::string out = plan.out.substr(0, plan.out.rfind("Transfers"));
    EXPECT_EQ(out, "Dry run: nothing is sent to a phone and no file is made.\n"
                   "write pds pds.img --changed-only\n"
                   "  read 10010000-1001FFFF (65536 bytes) into old.bin\n"
                   "  read 10010000-1001FFFF (65536 bytes) to compare\n"
                   "  candidate block 10010000 (32768 bytes) from image bytes 00000000-00007FFF, "
                   "written if it differs\n"
                   "  candidate block 10018000 (32768 bytes) from image bytes 00008000-0000FFFF, "
                   "written if it differs\n"
                   "  read 10010000-1001FFFF (65536 bytes) to verify\n"
                   "read 10030000-1003FFFF\n"
                   "  read 10030000-1003FFFF (65536 bytes) into 10030000-1003FFFF.bin\n");
    EXPECT_NE(plan.out.find(", every candidate block written\n"), std::string::npos);
}

TEST(CliDryRun, RefusesWhatTheRunWouldRefuseWithItsExitCode) {
    CliRig rig;
    putFile("short.img", patternImage(0x8000, 1));
    putFile("PDS.bin", {1});
    const std::vector<std::pair<Lines, int>> cases{
        {{"--dry-run", "write", "pds", "short.img"}, 4},
        {{"--dry-run", "write", "pds", "missing.img"}, 4},
        {{"--dry-run", "read", "pds"}, 4},
        {{"--dry-run", "read", "2000-1000"}, 1},
        {{"--dry-run", "restore"}, 1},
        {{"--dry-run", "list", "--json", "info", "--json"}, 1},
    };
    for (const auto& [args, code] : cases) {
        Lines real(args.begin() + 1, args.end());
        std::string typed;
        for (const std::string& word : real) typed += " " + word;
        SCOPED_TRACE(typed);
        const auto dry = rig.run(args);
        const auto run = rig.run(real);
        EXPECT_EQ(dry.code, code);
        EXPECT_EQ(run.code, code);
        EXPECT_EQ(dry.err, run.err);
        EXPECT_EQ(dry.out, "");
    }
    // A loader image missing stops the first command of a run: the dry run says so too.
    std::filesystem::remove("bin/LTE2_jump.bin");
    const auto dry = rig.run({"--dry-run", "start"});
    EXPECT_EQ(dry.code, 4);
    EXPECT_EQ(dry.err, "ERROR - could not read the file bin/LTE2_jump.bin\n");
    EXPECT_EQ(rig.run({"--dry-run", "list"}).code, 0) << "list needs no loader";
    EXPECT_EQ(rig.roadsOpened, 0);
    EXPECT_TRUE(rig.driver.trace().empty());
}

}  // namespace
}  // namespace norvale
