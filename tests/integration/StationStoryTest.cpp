// norvale-cli --station against several simulated phones, in-process: every phone through the
// chain in its own folder, one journal line each, one phone's trouble never another's.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "StationRig.h"
#include "protocol/CommandFormats.h"
#include "station/Sha256.h"

namespace norvale {
namespace {

using namespace norvale::testing;
using Lines = std::vector<std::string>;

const std::string kArrivalLines[] = {"Phone connected", "Boot version: 0C60", "Mode: FLASH ",
                                     "CG1 start - 100A0000"};
const std::string kBootstrapLines[] = {"Sending the loader", "JMP01", "RAM LOADER 1"};

// The pipe transfers of a phone's arrival (RQHW and ENUM, each written and answered) and of one
// command's loader bootstrap.
constexpr std::uint64_t kArrivalTransfers = 4;
constexpr std::uint64_t kBootstrapTransfers = 16;

const std::string kRecipeHead =
    "# A norvale-cli recipe: the chain every station runs, each image pinned by its size\n"
    "# and SHA-256. Images are named relative to this file. Check it with:\n"
    "#   norvale-cli recipe check FILE\n";

std::string fileSha(const std::string& name) { return sha256Hex(fileBytes(name)); }

std::string fileEntry(const std::string& name) {
    return R"({"name":)" + jsonString(name) + R"(,"sha256":")" + fileSha(name) + R"("})";
}

// The journal line of a phone at `k` that ran the chain of the first story to its end.
std::string doneLine(unsigned k, const std::string& folder) {
    return R"({"location":"1-1.)" + std::to_string(k) +
           R"(","road":"usb","serial":"","boot_version":"0C60","mode":"FLASH ",)"
           R"("started":"2026-12-08T08:22:31Z","ended":"2026-12-08T08:22:31Z","commands":[)"
           R"({"command":"backup","result":"done","bytes":262144,"ms":0,"files":[)" +
           fileEntry(inFolder(folder, "Boot.bin")) + "," + fileEntry(inFolder(folder, "PDS.bin")) +
           "," + fileEntry(inFolder(folder, "Panic.bin")) + "," +
           fileEntry(inFolder(folder, "SHA256SUMS")) +
           R"(]},{"command":"write pds new.bin","result":"done","bytes":131072,"ms":0,"files":[]},)"
           R"({"command":"read boot -o again.bin","result":"done","bytes":65536,"ms":0,"files":[)" +
           fileEntry(inFolder(folder, "again.bin")) +
           R"(]}],"verify":"passed","exit_code":0,"reason":"","error":""})"
           "\n";
}

TEST(StationStory, ThreePhonesEachRunTheChainIntoAFolderOfTheirOwn) {
    StationRig rig(3);
    const Bytes image = patternImage(0x10000, 0x5A);
    putFile("new.bin", image);
    std::vector<Bytes> before;
    for (unsigned k = 1; k <= 3; ++k) before.push_back(rig.flash(k, 0x10000000, 0x40000));
    ASSERT_NE(before[0], before[1]) << "the phones' flash must differ to tell their dumps apart";

    const auto result = rig.run({"--count", "3", "--journal", "journal.jsonl", "backup", "write",
                                 "pds", "new.bin", "read", "boot", "-o", "again.bin"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.err, "");

    const auto journal = rig.journal("journal.jsonl");
    EXPECT_EQ(journal.size(), 3u);
    for (unsigned k = 1; k <= 3; ++k) {
        SCOPED_TRACE("phone " + std::to_string(k));
        const std::string folder = rig.folder(k);
        const Bytes& flash = before[k - 1];
        EXPECT_EQ(fileBytes(inFolder(folder, "Boot.bin")),
                  Bytes(flash.begin(), flash.begin() + 0x10000));
        EXPECT_EQ(fileBytes(inFolder(folder, "PDS.bin")),
                  Bytes(flash.begin() + 0x10000, flash.begin() + 0x20000));
        EXPECT_EQ(fileBytes(inFolder(folder, "Panic.bin")),
                  Bytes(flash.begin() + 0x20000, flash.end()));
        EXPECT_EQ(fileBytes(inFolder(folder, "again.bin")),
                  Bytes(flash.begin(), flash.begin() + 0x10000));
        EXPECT_EQ(rig.flash(k, 0x10010000, 0x10000), image);
        // The checksums vouch for the files as they lie in the phone's folder.
        const Bytes sums = fileBytes(inFolder(folder, "SHA256SUMS"));
        EXPECT_EQ(std::string(sums.begin(), sums.end()),
                  fileSha(inFolder(folder, "Boot.bin")) + "  Boot.bin\n" +
                      fileSha(inFolder(folder, "PDS.bin")) + "  PDS.bin\n" +
                      fileSha(inFolder(folder, "Panic.bin")) + "  Panic.bin\n");
        ASSERT_EQ(journal.count(k), 1u);
        EXPECT_EQ(journal.find(k)->second, doneLine(k, folder));

        // Its lines, whole and after its location, are one phone's run.
        Lines expected(std::begin(kArrivalLines), std::end(kArrivalLines));
        const auto command = [&](std::initializer_list<std::string> lines) {
            expected.insert(expected.end(), std::begin(kBootstrapLines), std::end(kBootstrapLines));
            expected.insert(expected.end(), lines);
        };
        for (const char* region : {"Boot.bin", "PDS.bin", "Panic.bin"}) {
            command({"Reading data block " + inFolder(folder, region), "Success"});
        }
        expected.push_back("Checksums written to " + inFolder(folder, "SHA256SUMS"));
        // One verdict for the verified write: the verification's.
        command({"Writing data to the phone"});
        command({"Verifying the written data", "Success"});
        command({"Reading data block " + inFolder(folder, "again.bin"), "Success"});
        EXPECT_EQ(rig.linesOf(result.out, k), expected);
    }
    // Nothing but prefixed lines: no two phones' text in one line.
    std::size_t lines = 0;
    for (unsigned k = 1; k <= 3; ++k) lines += rig.linesOf(result.out, k).size();
    EXPECT_EQ(static_cast<std::size_t>(std::count(result.out.begin(), result.out.end(), '\n')),
              lines);
}

struct PhoneFault {
    const char* name;
    std::function<void(StationRig&)> arrange;
    int exitCode;
    std::string reason;
    std::string error;
};

TEST(StationStory, AFaultOnOnePhoneEndsThatPhoneAloneWithItsOwnLineAndRecord) {
    // Phone 2 is on the maker's driver, the others on the USB road.
    const std::string folder2 = StationRig(3, {2}).folder(2);
    // The pipe transfer of phone 2 from which the read of PDS goes wrong.
    const std::uint64_t read = kArrivalTransfers + kBootstrapTransfers;
    const std::vector<PhoneFault> faults{
        {"removed mid-read",
         [&](StationRig& rig) {
             rig.cli.driver.addFault(rig.number(2), SimFaultKind::unplug, read + 5);
         },
         2, "no_answer", "ERROR - no connection with the phone"},
        {"no data",
         [&](StationRig& rig) {
             rig.cli.driver.addFault(rig.number(2), SimFaultKind::nodata, read + 4);
         },
         3, "read_interrupted",
         "ERROR - reading interrupted, bytes saved: 8192 in the file " +
             inFolder(folder2, "pds.bin.part")},
        {"a reply that never comes",
         [&](StationRig& rig) {
             rig.cli.driver.addFault(rig.number(2), SimFaultKind::hang, read + 3);
         },
         3, "no_answer", "ERROR - no connection with the phone"},
        {"a stuck block",
         [](StationRig& rig) { rig.cli.driver.phone(rig.ids[1])->stickBlock(0x10010000); }, 5,
         "verify_mismatch", "ERROR - the written data differ from the image at address 10010000"},
        {"a full disk for its folder",
         [&](StationRig& rig) {
             rig.cli.files.failOpening(inFolder(folder2, "pds.bin.part"), FileError::diskFull);
         },
         4, "cannot_create_file",
         "ERROR - could not create the file " + inFolder(folder2, "pds.bin.part")},
    };
    for (const PhoneFault& fault : faults) {
        SCOPED_TRACE(fault.name);
        StationRig rig(3, {2});
        const Bytes image = patternImage(0x10000, 0x5A);
        putFile("new.bin", image);
        std::vector<Bytes> pds;
        for (unsigned k = 1; k <= 3; ++k) pds.push_back(rig.flash(k, 0x10010000, 0x10000));
        fault.arrange(rig);
        const auto result = rig.run({"--count", "3", "--journal", "j.jsonl", "read", "pds", "-o",
                                     "pds.bin", "write", "pds", "new.bin"});
        EXPECT_EQ(result.code, 6);
        EXPECT_EQ(result.err, "[" + rig.location(2) + "] " + fault.error + "\n");
        const auto journal = rig.journal("j.jsonl");
        ASSERT_EQ(journal.size(), 3u);
        const std::string failed = journal.find(2)->second;
        // Its journal line ends with what the operator was told, and why by name.
        EXPECT_NE(
            failed.find(R"("exit_code":)" + std::to_string(fault.exitCode) + R"(,"reason":")" +
                        fault.reason + R"(","error":)" + jsonString(fault.error) + "}\n"),
            std::string::npos)
            << failed;
        for (const unsigned k : {1u, 3u}) {
            EXPECT_EQ(fileBytes(inFolder(rig.folder(k), "pds.bin")), pds[k - 1]);
            EXPECT_EQ(rig.flash(k, 0x10010000, 0x10000), image);
            EXPECT_NE(journal.find(k)->second.find(
                          R"("verify":"passed","exit_code":0,"reason":"","error":""})"),
                      std::string::npos);
        }
    }
}

// A phone this user may not open (no udev rule) is told as such, in its line and its record, and
// nothing is made for it; the phone beside it is served as ever.
TEST(StationStory, APhoneTheSystemWontLetUsOpenIsToldAsSuchAndNothingIsMadeForIt) {
    StationRig rig(1);
    SimInterfaceOptions locked;
    locked.road = Road::usb;
    locked.devicePath = "1-1.2";
    locked.denyOpen = true;
    rig.cli.driver.attach(locked);
    const auto result =
        rig.run({"-q", "--count", "2", "--journal", "j.jsonl", "read", "boot", "-o", "boot.bin"});
    EXPECT_EQ(result.code, 6);
    const std::string error =
        "ERROR - no permission to open the phone 1-1.2: the udev rule is needed, and a user not "
        "at the seat needs the plugdev group, see \"Permissions\" in norvale-cli --help";
    EXPECT_EQ(result.err, "[1-1.2] " + error + "\n");
    EXPECT_FALSE(std::filesystem::exists("1-1.2-" + std::string(kStationStamp)));
    EXPECT_EQ(fileBytes(inFolder(rig.folder(1), "boot.bin")), rig.flash(1, 0x10000000, 0x10000));
    const Bytes journal = fileBytes("j.jsonl");
    const std::string text(journal.begin(), journal.end());
    const std::string denied =
        R"({"location":"1-1.2","road":"usb","serial":"","boot_version":"","mode":"",)"
        R"("started":"2026-12-08T08:22:31Z","ended":"2026-12-08T08:22:31Z","commands":[)"
        R"({"command":"read boot -o boot.bin","result":"not_run","bytes":0,"ms":0,"files":[]}],)"
        R"("verify":"","exit_code":2,"reason":"no_usb_permission","error":)" +
        jsonString(error) + "}\n";
    EXPECT_NE(text.find(denied), std::string::npos) << text;
}

// Presses Ctrl+C from a thread of its own once `ready` holds, polling in real time.
class CtrlCWhen {
public:
    CtrlCWhen(FakeConsole& console, std::function<bool()> ready)
        : thread_([this, &console, ready = std::move(ready)] {
              while (!quit_.load() && !ready()) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
              if (!quit_.load()) console.pressCtrlC();
          }) {}
    ~CtrlCWhen() {
        quit_.store(true);
        thread_.join();
    }
    CtrlCWhen(const CtrlCWhen&) = delete;
    CtrlCWhen& operator=(const CtrlCWhen&) = delete;

private:
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

std::size_t journalLines(const std::string& name) {
    if (!std::filesystem::exists(name)) return 0;
    const Bytes bytes = fileBytes(name);
    return static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
}

// A shop's known-good backup put on every phone of the line: each phone's own flash is saved in
// its own folder first (never beside the shared backup, where the phones' names would clash). Each
// phone keeps its own PDS unless --clone-pds asks for the backup's.
TEST(StationStory, ARestorePutsOneBackupOnEveryPhoneEachSavingItsOwnFlashInItsFolderFirst) {
    for (const bool clone : {false, true}) {
        SCOPED_TRACE(clone ? "--clone-pds" : "PDS kept");
        StationRig rig(2);
        const Bytes boot = patternImage(0x10000, 0x11);
        const Bytes pds = patternImage(0x10000, 0x22);
        const Bytes panic = patternImage(0x20000, 0x33);
        std::filesystem::create_directory("golden");
        putFile("golden/Boot.bin", boot);
        putFile("golden/PDS.bin", pds);
        putFile("golden/Panic.bin", panic);
        const std::string sums = sha256Hex(boot) + "  Boot.bin\n" + sha256Hex(pds) + "  PDS.bin\n" +
                                 sha256Hex(panic) + "  Panic.bin\n";
        putFile("golden/SHA256SUMS", Bytes(sums.begin(), sums.end()));
        std::vector<Bytes> before;
        for (unsigned k = 1; k <= 2; ++k) before.push_back(rig.flash(k, 0x10000000, 0x40000));

        std::vector<std::string> args{"-q",      "--count", "2",     "--journal",
                                      "j.jsonl", "restore", "golden"};
        if (clone) args.insert(args.begin(), "--clone-pds");
        const auto result = rig.run(args);
        EXPECT_EQ(result.code, 0) << result.err;
        EXPECT_EQ(result.err, "");
        const auto journal = rig.journal("j.jsonl");
        for (unsigned k = 1; k <= 2; ++k) {
            SCOPED_TRACE("phone " + std::to_string(k));
            const Bytes& flash = before[k - 1];
            Bytes golden = boot;
            if (clone) {
                golden.insert(golden.end(), pds.begin(), pds.end());
            } else {
                golden.insert(golden.end(), flash.begin() + 0x10000, flash.begin() + 0x20000);
            }
            golden.insert(golden.end(), panic.begin(), panic.end());
            EXPECT_EQ(rig.flash(k, 0x10000000, 0x40000), golden);
            const std::string saved = inFolder(rig.folder(k), "before-restore");
            EXPECT_EQ(fileBytes(inFolder(saved, "Boot.bin")),
                      Bytes(flash.begin(), flash.begin() + 0x10000));
            EXPECT_EQ(fileBytes(inFolder(saved, "PDS.bin")),
                      Bytes(flash.begin() + 0x10000, flash.begin() + 0x20000));
            EXPECT_EQ(fileBytes(inFolder(saved, "Panic.bin")),
                      Bytes(flash.begin() + 0x20000, flash.end()));
            ASSERT_EQ(journal.count(k), 1u);
            // The 256 KB saved, then each region restored compared, written (every block differs)
            // and verified: 1 MB with PDS, 832 KB without.
            const std::string bytes = clone ? "1048576" : "851968";
            EXPECT_EQ(journal.find(k)->second,
                      R"({"location":"1-1.)" + std::to_string(k) +
                          R"(","road":"usb","serial":"","boot_version":"0C60","mode":"FLASH ",)"
                          R"("started":"2026-12-08T08:22:31Z","ended":"2026-12-08T08:22:31Z",)"
                          R"("commands":[{"command":"restore golden","result":"done","bytes":)" +
                          bytes + R"(,"ms":0,"files":[)" + fileEntry(inFolder(saved, "Boot.bin")) +
                          "," + fileEntry(inFolder(saved, "PDS.bin")) + "," +
                          fileEntry(inFolder(saved, "Panic.bin")) + "," +
                          fileEntry(inFolder(saved, "SHA256SUMS")) +
                          R"(]}],"verify":"passed","exit_code":0,"reason":"","error":""})"
                          "\n");
        }
        // The backup restored from is as it was: nothing of the phones' went into it.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator("golden"),
                                std::filesystem::directory_iterator()),
                  4);
    }
}

TEST(StationStory, PortPicksThePhonesAndAFinishedPhoneThatStaysIsNotRunAgain) {
    StationRig rig(3);
    // Until both phones have a line and ten scans more have gone by with them still attached.
    std::atomic<std::uint64_t> bothDoneAt{0};
    CtrlCWhen ctrlC(rig.cli.console, [&] {
        if (journalLines("j.jsonl") < 2) return false;
        std::uint64_t expected = 0;
        bothDoneAt.compare_exchange_strong(expected, rig.cli.clock.nowMs());
        return rig.cli.clock.nowMs() > bothDoneAt.load() + 10000;
    });
    const auto result = rig.run({"--port", "1-1.1", "--port", "usb:1-1.3", "--port", "1-1.7",
                                 "--journal", "j.jsonl", "read", "boot", "-o", "boot.bin"});
    EXPECT_EQ(result.code, 130);
    // Said once, at the first scan: the one place no phone was at.
    const std::string note = "Waiting for a phone at: 1-1.7\n";
    const std::size_t said = result.out.find(note);
    ASSERT_NE(said, std::string::npos) << result.out;
    EXPECT_TRUE(said == 0 || result.out[said - 1] == '\n');
    EXPECT_EQ(result.out.find("Waiting", said + 1), std::string::npos);
    // Both phones stayed attached, watched: the station stopped those waits before it returned.
    EXPECT_EQ(result.waitsLeft, 0u);
    const auto journal = rig.journal("j.jsonl");
    EXPECT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal.count(1), 1u);
    EXPECT_EQ(journal.count(3), 1u);
    EXPECT_TRUE(rig.cli.driver.traceOf(rig.number(2)).empty()) << "not a phone of the station";
    EXPECT_FALSE(std::filesystem::exists(rig.folder(2)));
    EXPECT_FALSE(std::filesystem::exists(rig.folder(1, "-2")));
    EXPECT_EQ(fileBytes(inFolder(rig.folder(3), "boot.bin")), rig.flash(3, 0x10000000, 0x10000));
}

TEST(StationStory, CountEndsTheRunOnceThatManyPhonesHaveFinished) {
    StationRig rig(3);
    const auto result = rig.run({"-q", "--count", "2", "read", "boot", "-o", "boot.bin"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "");
    unsigned served = 0;
    for (unsigned k = 1; k <= 3; ++k) {
        if (!std::filesystem::exists(rig.folder(k))) {
            EXPECT_TRUE(rig.cli.driver.traceOf(rig.number(k)).empty());
            continue;
        }
        ++served;
        EXPECT_EQ(fileBytes(inFolder(rig.folder(k), "boot.bin")),
                  rig.flash(k, 0x10000000, 0x10000));
    }
    EXPECT_EQ(served, 2u);
}

TEST(StationStory, CtrlCStopsEveryPhoneMidReadKeepingItsPartAndEndingItsRead) {
    StationRig rig(4);
    // The dumps' writers wait at a gate, so every phone is held in the middle of its read until
    // Ctrl+C has been pressed.
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    rig.cli.files.beforeAppend([&] {
        std::unique_lock lock(mutex);
        opened.wait(lock, [&] { return open; });
    });
    const std::uint64_t midRead = kArrivalTransfers + kBootstrapTransfers + 20;
    std::thread opener;
    {
        CtrlCWhen ctrlC(rig.cli.console, [&] {
            for (unsigned k = 1; k <= 4; ++k) {
                if (rig.cli.driver.pipeTransfersOf(rig.number(k)) < midRead) return false;
            }
            return true;
        });
        opener = std::thread([&] {
            while (!rig.cli.console.interrupted()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            std::lock_guard lock(mutex);
            open = true;
            opened.notify_all();
        });
        const auto result = rig.run({"-q", "read", "10000000-103FFFFF", "-o", "all.bin"});
        EXPECT_EQ(result.code, 130);
        for (unsigned k = 1; k <= 4; ++k) {
            SCOPED_TRACE("phone " + std::to_string(k));
            const std::string part = inFolder(rig.folder(k), "all.bin.part");
            EXPECT_FALSE(std::filesystem::exists(inFolder(rig.folder(k), "all.bin")));
            const Bytes kept = fileBytes(part);
            EXPECT_GT(kept.size(), 0u);
            EXPECT_LT(kept.size(), 0x400000u);
            EXPECT_EQ(kept, rig.flash(k, 0x10000000, kept.size()));
            // Stopped at its next transfer, whatever that was; what arrived is kept.
            EXPECT_NE(result.err.find("[" + rig.location(k) + "] ERROR - stopped by the operator"),
                      std::string::npos)
                << result.err;
            EXPECT_EQ(rig.cli.driver.traceOf(rig.number(k)).back(), writtenHex("5a"));
        }
    }
    opener.join();
}

TEST(StationStory, APhoneThatLeavesAndComesBackIsANewPhone) {
    StationRig rig(1);
    rig.cli.driver.returnAfterStart(3000);
    const auto result = rig.run(
        {"--count", "2", "--journal", "j.jsonl", "read", "boot", "-o", "boot.bin", "start"});
    EXPECT_EQ(result.code, 0) << result.err;
    const auto journal = rig.journal("j.jsonl");
    EXPECT_EQ(journal.count(1), 2u);
    // Both arrivals at the same second: the second folder takes the next free name.
    for (const std::string& folder : {rig.folder(1), rig.folder(1, "-2")}) {
        EXPECT_EQ(fileBytes(inFolder(folder, "boot.bin")), rig.flash(1, 0x10000000, 0x10000));
    }
    // A phone that has just booted gets the whole bootstrap again, the jump image included.
    const Lines trace = rig.cli.driver.traceOf(rig.number(1));
    EXPECT_EQ(std::count(trace.begin(), trace.end(), written(buildBinPacket(rig.cli.jumpImage))),
              2);
    EXPECT_EQ(rig.linesOf(result.out, 1).front(), "Phone connected");
}

TEST(StationStory, OnATerminalATableShowsEveryPhoneAndItsResult) {
    StationRig rig(2);
    rig.cli.console.terminal = true;
    rig.cli.files.failOpening(inFolder(rig.folder(2), "boot.bin.part"), FileError::accessDenied);
    const auto result = rig.run({"--count", "2", "read", "boot", "-o", "boot.bin"});
    EXPECT_EQ(result.code, 6);
    // The last drawing: up over the one before, then the header and a line a phone.
    const std::size_t last = result.out.rfind("\rStation ");
    ASSERT_NE(last, std::string::npos) << result.out;
    const std::string table = result.out.substr(last);
    EXPECT_NE(table.find("running 0  done 1  failed 1\x1b[K\n"), std::string::npos) << table;
    EXPECT_NE(table.find("1-1.1  usb     1/1 read  done\x1b[K\n"), std::string::npos) << table;
    EXPECT_NE(table.find("1-1.2  usb     1/1 read  failed: could not create the file " +
                         inFolder(rig.folder(2), "boot.bin.part") + "\x1b[K\n"),
              std::string::npos)
        << table;
    // The error line goes above the table; the phones' other lines are the table's to show.
    EXPECT_NE(result.out.find("[1-1.2] ERROR - could not create the file "), std::string::npos);
    EXPECT_EQ(result.out.find("Phone connected"), std::string::npos);
    EXPECT_EQ(result.err, "");
}

TEST(StationStory, WhatAStationCantDoIsRefusedBeforeAnyRoadIsOpened) {
    StationRig rig(1);
    const auto listing = rig.cli.run({"--station", "list"});
    EXPECT_EQ(listing.code, 1);
    EXPECT_EQ(listing.err, "ERROR - not in a station: list\n");
    const auto outside = rig.cli.run({"--station", "read", "pds", "-o", "../pds.bin"});
    EXPECT_EQ(outside.code, 1);
    EXPECT_EQ(outside.err,
              "ERROR - a station writes files only into the phone's folder: ../pds.bin\n");
    const auto missing = rig.cli.run({"--station", "write", "pds", "missing.bin"});
    EXPECT_EQ(missing.code, 4);
    EXPECT_EQ(missing.err, "ERROR - could not read the file missing.bin\n");
    EXPECT_EQ(rig.cli.roadsOpened, 0);
    EXPECT_TRUE(rig.cli.driver.traceOf(rig.number(1)).empty());
}

// A line's recipe: made once from a command line, checked with no phone, run on every phone with
// its name and digest in each phone's journal line. An image replaced afterwards stops the next
// run before any phone is asked anything, both digests named.
TEST(StationStory, ARecipeMadeOnceRunsOnEveryPhoneAndAnImageChangedSinceStopsTheRun) {
    StationRig rig(2);
    const Bytes image = patternImage(0x10000, 0x5A);
    std::filesystem::create_directories("images");
    std::filesystem::create_directories("line");
    putFile("images/new.bin", image);
    const auto made = rig.cli.run({"recipe", "make", "-o", "line/pds.toml", "--journal", "j.jsonl",
                                   "--no-verify", "write", "pds", "images/new.bin", "info"});
    ASSERT_EQ(made.code, 0) << made.err;
    EXPECT_EQ(made.out, "Recipe written: line/pds.toml\n");
    const Bytes recipe = fileBytes("line/pds.toml");
    EXPECT_EQ(
        std::string(recipe.begin(), recipe.end()), kRecipeHead + std::string(R"(journal = 'j.jsonl'
version = 1

[[step]]
changed_only = false
command = 'write'
image = '../images/new.bin'
region = 'pds'
sha256 = ')") + sha256Hex(image) + R"('
size = 65536
verify = false

[[step]]
command = 'info'
)");
    const auto again = rig.cli.run({"recipe", "make", "-o", "line/pds.toml", "info"});
    EXPECT_EQ(again.code, 4);
    EXPECT_EQ(again.err, "ERROR - the file already exists: line/pds.toml\n");
    const auto checked = rig.cli.run({"recipe", "check", "line/pds.toml"});
    EXPECT_EQ(checked.code, 0) << checked.err;
    // The image's name as the system joins the recipe's folder to it.
    const std::string shown = (std::filesystem::path("images") / "new.bin").string();
    EXPECT_EQ(checked.out,
              "The image is the recipe's: " + shown + "\nRecipe checked: line/pds.toml\n");

    const auto result = rig.run({"--count", "2", "--recipe", "line/pds.toml"});
    EXPECT_EQ(result.code, 0) << result.err;
    const auto journal = rig.journal("j.jsonl");
    ASSERT_EQ(journal.size(), 2u);
    for (unsigned k = 1; k <= 2; ++k) {
        EXPECT_EQ(rig.flash(k, 0x10010000, 0x10000), image);
        const std::string& line = journal.find(k)->second;
        EXPECT_NE(
            line.find(R"({"command":"write pds ../images/new.bin --no-verify","result":"done")"),
            std::string::npos)
            << line;
        EXPECT_EQ(line.substr(line.find(R"(,"recipe":)")),
                  R"(,"recipe":"line/pds.toml","recipe_sha256":")" + sha256Hex(recipe) + "\"}\n");
    }

    const Bytes changed = patternImage(0x10000, 0x77);
    putFile("images/new.bin", changed);
    std::vector<std::size_t> traces;
    for (unsigned k = 1; k <= 2; ++k)
        traces.push_back(rig.cli.driver.traceOf(rig.number(k)).size());
    const auto refused = rig.run({"--count", "2", "--recipe", "line/pds.toml"});
    EXPECT_EQ(refused.code, 4);
    EXPECT_EQ(refused.err, "ERROR - the image is not the recipe's: " + shown +
                               "\nthe file: 65536 "
                               "bytes, SHA-256 " +
                               sha256Hex(changed) + "\nthe recipe: 65536 bytes, SHA-256 " +
                               sha256Hex(image) + "\n");
    for (unsigned k = 1; k <= 2; ++k) {
        EXPECT_EQ(rig.cli.driver.traceOf(rig.number(k)).size(), traces[k - 1]);
    }
    EXPECT_EQ(rig.journal("j.jsonl").size(), 2u);
}

}  // namespace
}  // namespace norvale
