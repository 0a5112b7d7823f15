// The progress a write or a read shows on the taskbar, through the dialog view, against the
// simulated phone: its steps, its total, and its end on every path.
#include <gtest/gtest.h>

#include "OperationsRig.h"
#include "operations/FlashRangeReader.h"
#include "operations/PhoneControl.h"
#include "operations/RegionWriter.h"

namespace norvale {
namespace {

using namespace norvale::testing;
using Calls = std::vector<ProgressCall>;

// 0 of `total`, then each step's running sum, then the end.
Calls rising(std::uint64_t total, const std::vector<std::uint64_t>& steps, bool ended = true) {
    Calls calls{ProgressCall::shown(0, total)};
    std::uint64_t done = 0;
    for (const std::uint64_t step : steps) {
        done += step;
        calls.push_back(ProgressCall::shown(done, total));
    }
    if (ended) calls.push_back(ProgressCall::ended());
    return calls;
}

std::vector<std::uint64_t> chunks(std::size_t count, std::uint64_t size = 4096) {
    return std::vector<std::uint64_t>(count, size);
}

void PrintTo(const ProgressCall& call, std::ostream* out) {
    if (call.kind == ProgressCall::Kind::end) {
        *out << "end";
    } else {
        *out << call.done << "/" << call.total;
    }
}

TEST(TransferProgress, WritingPdsRisesChunkByChunkTo65536Of65536AndEnds) {
    OperationsRig rig;
    rig.pickImage("pds.img", patternImage(0x10000, 1));
    rig.view.clearProgressCalls();  // the bootstrap shows none; the rig starts clean anyway

    rig.run(writePds);

    EXPECT_EQ(rig.view.progressCalls(), rising(0x10000, chunks(16)));
    EXPECT_NE(rig.view.logText().find(text::kSuccess.view()), std::string::npos);
}

TEST(TransferProgress, AWriteCountsOnlyTheImageBytesItSends) {
    OperationsRig rig;
    // Boot with an image of 0xFF00 bytes: the second block's last chunk holds 0xF00 bytes. A
    // Panic image longer than its region sends only the region.
    rig.pickImage("boot.img", patternImage(0xFF00, 2));
    rig.run(writeBoot);
    Calls expected = rising(0xFF00, chunks(15));
    expected.insert(expected.end() - 1, ProgressCall::shown(0xFF00, 0xFF00));
    EXPECT_EQ(rig.view.progressCalls(), expected);

    rig.view.clearProgressCalls();
    rig.pickImage("panic.img", patternImage(0x30000, 3));
    rig.run(writePanic);
    EXPECT_EQ(rig.view.progressCalls(), rising(0x20000, chunks(32)));
}

TEST(TransferProgress, ABlockRangeWriteCountsEveryBlockOfThePlan) {
    OperationsRig rig;
    // A 32 KB block at 1001C000 and a 128 KB block at 10024000.
    rig.fields("1001C000", "10030000");
    rig.pickImage("range.img", patternImage(0x28000, 4));
    rig.run(writeBlockRange);
    EXPECT_EQ(rig.view.progressCalls(), rising(0x28000, chunks(40)));
}

TEST(TransferProgress, AReadCountsItsRepliesAgainstEndMinusStartPlusOne) {
    OperationsRig rig;
    rig.fields("10030000", "10032000");  // 0x2001 bytes: replies of 4096, 4096 and 1
    rig.run(readRangeToFile);
    EXPECT_EQ(rig.view.progressCalls(), rising(0x2001, {4096, 4096, 1}));

    rig.view.clearProgressCalls();
    rig.fields("10010000", "1001FFFF");
    rig.run(readRangeToFile);
    EXPECT_EQ(rig.view.progressCalls(), rising(0x10000, chunks(16)));
}

TEST(TransferProgress, AFailedCommandEndsItsProgressWhereItStopped) {
    OperationsRig rig;
    // PDS write, transfers of the body: 1 'F', 2 the address, 3 the first chunk, 4 its reply;
    // the phone is gone before the third chunk (7).
    rig.pickImage("pds.img", patternImage(0x10000, 5));
    rig.run(writePds, {{SimFaultKind::unplug, 7}});
    EXPECT_EQ(rig.view.progressCalls(), rising(0x10000, chunks(2)));

    // A chunk the phone does not confirm is not counted.
    OperationsRig again;
    again.pickImage("pds.img", patternImage(0x10000, 6));
    again.run(writePds, {{SimFaultKind::nodata, 6}});
    EXPECT_EQ(again.view.progressCalls(), rising(0x10000, chunks(1)));

    // A read whose third reply carries nothing, and one whose dump fills the disk.
    OperationsRig reader;
    reader.run(readRangeToFile, {{SimFaultKind::nodata, 4}});
    EXPECT_EQ(reader.view.progressCalls(), rising(0x10000, chunks(2)));
    reader.view.clearProgressCalls();
    std::filesystem::remove("PDS.bin.part");
    reader.sim.files.limitSpace(5000);
    reader.run(readRangeToFile);
    reader.sim.files.limitSpace(std::nullopt);
    EXPECT_EQ(reader.view.progressCalls(), rising(0x10000, chunks(1)));
}

TEST(TransferProgress, CommandsThatMoveNoDataShowNone) {
    OperationsRig rig;
    rig.sim.chooser.cancel();
    rig.run(writePds);  // the operator cancelled the file dialog
    rig.pickImage("short.img", patternImage(0x100, 7));
    rig.run(writePds);  // an image too short for the region is refused before any 'F'
    EXPECT_EQ(rig.view.progressCalls(), Calls{});
    rig.run(readRangeToFile);
    rig.view.clearProgressCalls();
    rig.run(readRangeToFile);  // PDS.bin exists now: refused before the request
    rig.run(setBlankMode);
    rig.run(startPhone);  // last: the phone leaves flash mode
    EXPECT_EQ(rig.view.progressCalls(), Calls{});
}

}  // namespace
}  // namespace norvale
