// A power cut at every step of a read, a backup and a station phone's chain: whatever the disk
// keeps under a final name is whole and matches the SHA-256 recorded for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "StationRig.h"
#include "integration/JsonReader.h"
#include "integration/PowerCutFileSystem.h"
#include "station/BackupSet.h"
#include "station/Sha256.h"

namespace norvale {
namespace {

using namespace norvale::testing;

bool endsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string folderOf(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? "" : name.substr(0, slash + 1);
}

std::string generic(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// `name` is on the disk and holds what `sha256` vouches for.
void expectVouched(const DiskState& disk, const std::string& name, const std::string& sha256) {
    const auto file = disk.files.find(generic(name));
    ASSERT_NE(file, disk.files.end()) << name << " is vouched for but not on the disk";
    EXPECT_EQ(sha256Hex(file->second), sha256) << name;
}

// What must hold of the disk a cut left, against what a run that went to its end wrote: a file
// under its final name holds all of its bytes; a checksums file's and a journal's files are on
// the disk as they vouch; every journal line is whole.
void expectWholeAfterCut(const DiskState& cut, const DiskState& complete) {
    for (const auto& [name, bytes] : cut.files) {
        SCOPED_TRACE(name);
        if (endsWith(name, ".part")) continue;
        const auto done = complete.files.find(name);
        ASSERT_NE(done, complete.files.end()) << "a name no complete run gives";
        if (endsWith(name, ".jsonl")) {
            const std::string text(bytes.begin(), bytes.end());
            EXPECT_TRUE(text.empty() || text.back() == '\n') << "a journal line torn: " << text;
            for (std::size_t begin = 0; begin < text.size();) {
                const std::size_t end = text.find('\n', begin);
                const auto line = JsonReader::parse(text.substr(begin, end - begin));
                ASSERT_TRUE(line.has_value()) << text.substr(begin, end - begin);
                for (const JsonValue& command : line->object().at("commands").array()) {
                    for (const JsonValue& file : command.object().at("files").array()) {
                        expectVouched(cut, file.object().at("name").string(),
                                      file.object().at("sha256").string());
                    }
                }
                begin = end == std::string::npos ? text.size() : end + 1;
            }
            continue;
        }
        EXPECT_TRUE(bytes == done->second) << "under its final name but not whole: " << bytes.size()
                                           << " of " << done->second.size() << " bytes";
        if (endsWith(name, "SHA256SUMS")) {
            const ChecksumList sums = parseChecksums(std::string(bytes.begin(), bytes.end()));
            EXPECT_EQ(sums.badLine, 0u);
            EXPECT_EQ(sums.entries.size(), kBackupRegions.size());
            for (const ChecksumEntry& entry : sums.entries) {
                expectVouched(cut, folderOf(name) + entry.name, entry.digest);
            }
        }
    }
}

// What one run of a story left: the files as written, the disk a cut at its end would leave,
// the disk its cut left (if the run got that far), and its steps.
struct Outcome {
    DiskState written;
    DiskState atEnd;
    std::optional<DiskState> atCut;
    std::uint64_t steps = 0;
};

Outcome outcomeOf(const PowerCutFileSystem& disk) {
    return {disk.written(), disk.onDisk(), disk.atCut(), disk.steps()};
}

// A story on fresh phones and a fresh disk, with the power cut after the given step.
using Story = std::function<Outcome(std::optional<std::uint64_t> cut)>;

// Runs `story` to its end once, then again with the power cut after each of its steps in turn;
// returns how many cuts were made.
std::uint64_t cutAtEveryStep(const Story& story) {
    const Outcome complete = story(std::nullopt);
    {
        // The end of a run is a moment a cut can come at too: then everything named is whole.
        SCOPED_TRACE("power cut at the end");
        expectWholeAfterCut(complete.atEnd, complete.written);
    }
    std::uint64_t cuts = 0;
    for (std::uint64_t step = 1;; ++step) {
        SCOPED_TRACE("power cut after step " + std::to_string(step) + " of about " +
                     std::to_string(complete.steps));
        const Outcome outcome = story(step);
        if (!outcome.atCut) break;  // the run ended before this step
        ++cuts;
        expectWholeAfterCut(*outcome.atCut, complete.written);
        if (::testing::Test::HasFailure()) break;
    }
    ::testing::Test::RecordProperty("cuts", static_cast<int>(cuts));
    return cuts;
}

Outcome runCliOn(const std::vector<std::string>& args, std::optional<std::uint64_t> cut) {
    CliRig rig;
    PowerCutFileSystem disk(rig.files);
    if (cut) disk.cutAfter(*cut);
    const auto result = rig.run(args, &disk);
    EXPECT_EQ(result.code, 0) << result.err;
    return outcomeOf(disk);
}

TEST(PowerCut, AReadNamesOnlyAWholeDump) {
    const std::uint64_t cuts = cutAtEveryStep([](std::optional<std::uint64_t> cut) {
        return runCliOn({"-q", "read", "pds", "-o", "pds.bin"}, cut);
    });
    // Made, appended to, flushed, renamed: at least four steps, each cut.
    EXPECT_GE(cuts, 4u);
}

TEST(PowerCut, ABackupNamesOnlyWholeDumpsAndChecksumsThatVouchForThem) {
    const std::uint64_t cuts = cutAtEveryStep([](std::optional<std::uint64_t> cut) {
        return runCliOn({"-q", "backup", "saved"}, cut);
    });
    // The folder; three dumps and the checksums, each made, written, flushed and renamed.
    EXPECT_GE(cuts, 17u);
}

TEST(PowerCut, AStationPhoneLeavesWholeFilesAndWholeJournalLinesThatVouchForThem) {
    const std::uint64_t cuts = cutAtEveryStep([](std::optional<std::uint64_t> cut) {
        StationRig rig(1);
        putFile("new.bin", patternImage(0x10000, 0x5A));
        PowerCutFileSystem disk(rig.cli.files);
        if (cut) disk.cutAfter(*cut);
        const auto result = rig.run({"-q", "--count", "1", "--journal", "journal.jsonl", "backup",
                                     "write", "pds", "new.bin", "read", "boot", "-o", "again.bin"},
                                    &disk);
        EXPECT_EQ(result.code, 0) << result.err;
        return outcomeOf(disk);
    });
    // The journal and the phone's folder made; a backup and a read, each file made, written,
    // flushed and renamed; the journal's line appended and flushed.
    EXPECT_GE(cuts, 24u);
}

}  // namespace
}  // namespace norvale
