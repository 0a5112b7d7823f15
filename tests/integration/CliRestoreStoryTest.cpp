// norvale-cli restoring a backup and writing only what differs, against the simulated phone: the
// operator's stories end to end, and backup folders refused before anything reaches the phone.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include "CliRig.h"
#include "station/BackupSet.h"
#include "station/Sha256.h"
#include "protocol/CommandFormats.h"

namespace norvale {
namespace {

using namespace norvale::testing;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string kArrival =
    "Phone connected\nBoot version: 0C60\nMode: FLASH \nCG1 start - 100A0000\n";
const std::string kBootstrap = "Sending the loader\nJMP01\nRAM LOADER 1\n";
const std::string kFlashByte = writtenHex("46");  // 'F': one line per block written

std::string path(const fs::path& folder, const std::string& name) {
    return (folder / name).string();
}

// The addresses the trace's 'F' commands wrote, in order: the line after each 'F' line.
Lines blocksWritten(const Lines& trace) {
    Lines addresses;
    for (std::size_t i = 0; i + 1 < trace.size(); ++i) {
        if (trace[i] == kFlashByte) addresses.push_back(trace[i + 1]);
    }
    return addresses;
}

std::string addressLine(std::uint32_t address) { return written(encodeAddress(address)); }

// The folders in the working folder named as backup names them.
std::vector<std::string> datedFolders() {
    std::vector<std::string> folders;
    for (const auto& entry : fs::directory_iterator(".")) {
        const std::string name = entry.path().filename().string();
        if (std::regex_match(name, std::regex("backup-[0-9]{8}-[0-9]{6}(-[0-9]+)?"))) {
            folders.push_back(name);
        }
    }
    std::sort(folders.begin(), folders.end());
    return folders;
}

// A phone backed up into "saved", with flash the test then changes.
class CliRestore : public ::testing::Test {
protected:
    CliRestore() {
        const auto made = rig.run({"-q", "backup", "saved"});
        EXPECT_EQ(made.code, 0) << made.err;
        rig.driver.clearTrace();
    }

    void changeFlash(std::uint32_t address, std::size_t count, std::uint8_t seed) {
        rig.driver.phone(rig.phoneId)->writeFlash(address, patternImage(count, seed));
    }

    // The comparison before a region's write: its lines, then what follows for the blocks.
    static std::string compared(const Lines& blockLines) {
        std::string text = kBootstrap + "Comparing the phone's blocks with the image\n";
        for (const std::string& line : blockLines) text += line + "\n";
        return text;
    }
    static std::string same(const char* address) {
        return std::string("Block already holds the image, not written: ") + address;
    }
    static std::string differs(const char* address) {
        return std::string("Block differs from the image, to be written: ") + address;
    }
    static std::string writtenAndVerified() {
        return kBootstrap + "Writing data to the phone\n" + kBootstrap +
               "Verifying the written data\nSuccess\n";
    }

    CliRig rig;
};

TEST_F(CliRestore, ABackupPutBackMakesThePhoneReadAsBeforeAndKeepsWhatItHeld) {
    const Bytes savedBoot = fileBytes("saved/Boot.bin");
    const Bytes savedPanic = fileBytes("saved/Panic.bin");
    changeFlash(0x1000A000, 0x100, 0x61);    // inside Boot's second block
    changeFlash(0x10020000, 0x20000, 0x62);  // all of Panic
    const Bytes changedBoot = rig.flash(0x10000000, 0x10000);
    const Bytes changedPanic = rig.flash(0x10020000, 0x20000);

    const auto result = rig.run({"restore", "saved"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> folders = datedFolders();
    ASSERT_EQ(folders.size(), 1u) << "one new folder beside the backup";
    const fs::path kept = folders[0];
    EXPECT_EQ(result.out,
              kArrival + "Saving what the phone holds to the folder " + kept.string() + "\n" +
                  kBootstrap + "Reading data block " + path(kept, "Boot.bin") + "\nSuccess\n" +
                  kBootstrap + "Reading data block " + path(kept, "PDS.bin") + "\nSuccess\n" +
                  kBootstrap + "Reading data block " + path(kept, "Panic.bin") + "\nSuccess\n" +
                  "Checksums written to " + path(kept, "SHA256SUMS") + "\n" +
                  "Restoring from the file " + path("saved", "Boot.bin") + "\n" +
                  compared({same("10000000"), differs("10008000")}) + writtenAndVerified() +
                  "Restoring from the file " + path("saved", "PDS.bin") + "\n" +
                  compared({same("10010000"), same("10018000")}) + "Success\n" +
                  "Restoring from the file " + path("saved", "Panic.bin") + "\n" +
                  compared({differs("10020000")}) + writtenAndVerified());

    // Read back, the phone holds the backup again, and the new folder what it held before.
    EXPECT_EQ(rig.flash(0x10000000, 0x10000), savedBoot);
    EXPECT_EQ(rig.flash(0x10010000, 0x10000), fileBytes("saved/PDS.bin"));
    EXPECT_EQ(rig.flash(0x10020000, 0x20000), savedPanic);
    EXPECT_EQ(fileBytes(kept / "Boot.bin"), changedBoot);
    EXPECT_EQ(fileBytes(kept / "Panic.bin"), changedPanic);
    const Bytes sums = fileBytes(kept / "SHA256SUMS");
    EXPECT_EQ(std::string(sums.begin(), sums.begin() + 64), sha256Hex(changedBoot));
    EXPECT_EQ(blocksWritten(rig.driver.trace()),
              (Lines{addressLine(0x10008000), addressLine(0x10020000)}));

    // The folder just made restores too, though it was named in the same second: the one beside
    // it gets a name of its own.
    const auto back = rig.run({"-q", "restore", kept.string()});
    EXPECT_EQ(back.code, 0) << back.err;
    EXPECT_EQ(rig.flash(0x10020000, 0x20000), changedPanic);
    EXPECT_EQ(datedFolders().size(), 2u);
}

TEST_F(CliRestore, OneBlockThatDiffersIsTheOneBlockWritten) {
    changeFlash(0x10018000, 0x8000, 0x71);
    const auto result = rig.run({"restore", "saved", "--no-backup"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, kArrival + "Restoring from the file " + path("saved", "Boot.bin") + "\n" +
                              compared({same("10000000"), same("10008000")}) +
                              "Success\nRestoring from the file " + path("saved", "PDS.bin") +
                              "\n" + compared({same("10010000"), differs("10018000")}) +
                              writtenAndVerified() + "Restoring from the file " +
                              path("saved", "Panic.bin") + "\n" + compared({same("10020000")}) +
                              "Success\n");
    EXPECT_TRUE(datedFolders().empty()) << "--no-backup made a folder";
    const Lines trace = rig.driver.trace();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), kFlashByte), 1);
    EXPECT_EQ(blocksWritten(trace), Lines{addressLine(0x10018000)});
    // The block is sent whole from the backup's bytes, and verified by a read of it alone.
    const Bytes pds = fileBytes("saved/PDS.bin");
    const auto flashAt = std::find(trace.begin(), trace.end(), kFlashByte);
    EXPECT_EQ(*(flashAt + 2), written(std::span(pds).subspan(0x8000, 4096)));
    EXPECT_NE(std::find(flashAt, trace.end(), written(buildReadRequest(0x10018000, 0x8000))),
              trace.end());
    EXPECT_EQ(rig.flash(0x10010000, 0x10000), pds);
}

TEST_F(CliRestore, AStuckBlockIsCaughtByTheVerificationAndNoSuccessIsSaid) {
    changeFlash(0x10010000, 0x8000, 0x72);
    rig.driver.stickFlashBlock(0x10010000);
    const auto result = rig.run({"restore", "saved", "--no-backup", "start"});
    EXPECT_EQ(result.code, 5);
    EXPECT_EQ(result.err, "ERROR - the written data differ from the image at address 10010000\n");
    EXPECT_EQ(result.out, kArrival + "Restoring from the file " + path("saved", "Boot.bin") + "\n" +
                              compared({same("10000000"), same("10008000")}) +
                              "Success\nRestoring from the file " + path("saved", "PDS.bin") +
                              "\n" + compared({differs("10010000"), same("10018000")}) +
                              kBootstrap + "Writing data to the phone\n" + kBootstrap +
                              "Verifying the written data\n");
    EXPECT_TRUE(rig.driver.attached(rig.phoneId)) << "the run went on to start";
}

TEST_F(CliRestore, AFolderThatCantBeTrustedIsRefusedBeforeAnythingIsSent) {
    const int opened = rig.roadsOpened;  // by the backup
    const Bytes sums = fileBytes("saved/SHA256SUMS");
    const std::string sumsText(sums.begin(), sums.end());
    const auto restoreSums = [&] { putFile("saved/SHA256SUMS", sums); };
    const auto putSums = [](const std::string& text) {
        putFile("saved/SHA256SUMS", Bytes(text.begin(), text.end()));
    };
    struct Case {
        std::string what;
        std::function<void()> spoil;
        std::string err;
    };
    const Bytes pds = fileBytes("saved/PDS.bin");
    const Bytes boot = fileBytes("saved/Boot.bin");
    const std::vector<Case> cases{
        {"a file changed after the backup",
         [&] {
             Bytes changed = pds;
             changed[0x1234] ^= 1;
             putFile("saved/PDS.bin", changed);
         },
         "ERROR - the file does not match its checksum: " + path("saved", "PDS.bin")},
        {"a file missing", [] { fs::remove("saved/Panic.bin"); },
         "ERROR - could not read the file " + path("saved", "Panic.bin")},
        {"a file of the wrong size, its checksum made to match",
         [&] {
             const Bytes shorter(boot.begin(), boot.end() - 0x1000);
             putFile("saved/Boot.bin", shorter);
             std::string text = sumsText;
             text.replace(0, 64, sha256Hex(shorter));
             putSums(text);
         },
         "ERROR - the file's size is not its region's: " + path("saved", "Boot.bin")},
        {"a malformed line",
         [&] {
             std::string text = sumsText;
             text.erase(text.find('\n') + 10, 1);  // the second digest one digit short
             putSums(text);
         },
         "ERROR - malformed line in the checksums file: " + path("saved", "SHA256SUMS") + ":2"},
        {"a region not listed",
         [&] { putSums(sumsText.substr(0, sumsText.find("\n", sumsText.find("PDS.bin")) + 1)); },
         "ERROR - the file is not listed in the checksums: " + path("saved", "Panic.bin")},
        {"no checksums at all", [] { fs::remove("saved/SHA256SUMS"); },
         "ERROR - could not read the file " + path("saved", "SHA256SUMS")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.spoil();
        for (const bool dryRun : {true, false}) {
            std::vector<std::string> args{"restore", "saved"};
            if (dryRun) args.insert(args.begin(), "--dry-run");
            const auto result = rig.run(args);
            EXPECT_EQ(result.code, 4);
            EXPECT_EQ(result.err, c.err + "\n");
            EXPECT_EQ(result.out, "");
        }
        putFile("saved/PDS.bin", pds);
        putFile("saved/Boot.bin", boot);
        putFile("saved/Panic.bin", rig.flash(0x10020000, 0x20000));
        restoreSums();
    }
    EXPECT_EQ(rig.roadsOpened, opened);
    EXPECT_TRUE(rig.driver.trace().empty());
    EXPECT_TRUE(datedFolders().empty());
    // The folder as it was restores.
    EXPECT_EQ(rig.run({"-q", "restore", "saved"}).code, 0);
}

TEST_F(CliRestore, AChangedOnlyWriteSendsTheBlocksThatDifferAndOneSuccess) {
    // A block range over two 128 KB blocks; the image differs from the flash in the second only.
    Bytes image = rig.flash(0x10040000, 0x40000);
    image[0x30000] ^= 0xFF;
    putFile("range.img", image);
    const auto result = rig.run({"write", "10040000-1007FFFF", "range.img", "--changed-only"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out,
              kArrival + compared({same("10040000"), differs("10060000")}) + writtenAndVerified());
    EXPECT_EQ(blocksWritten(rig.driver.trace()), Lines{addressLine(0x10060000)});
    EXPECT_EQ(rig.flash(0x10040000, 0x40000), image);

    // Again: nothing differs, nothing is written, and the comparison is the verdict.
    rig.driver.clearTrace();
    const auto again = rig.run({"write", "10040000-1007FFFF", "range.img", "--changed-only"});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(again.out, kArrival + compared({same("10040000"), same("10060000")}) + "Success\n");
    EXPECT_TRUE(blocksWritten(rig.driver.trace()).empty());
}

}  // namespace
}  // namespace norvale
