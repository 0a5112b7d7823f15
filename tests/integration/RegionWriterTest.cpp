// The write commands against the simulated phone: what goes on the wire, what the log says,
// what ends up in flash, and how each command refuses what it can't do honestly.
#include <gtest/gtest.h>

#include <filesystem>

#include "OperationsRig.h"
#include "operations/RegionWriter.h"

namespace norvale {
namespace {

using namespace norvale::testing;
using Lines = std::vector<std::string>;

const std::string kChunkStored = readLine(4, "CHOK");
const std::string kBlockStored = readLine(5, "BLKOK");

// One 'F' as the phone sees it: the command byte, the address, each chunk of image bytes
// [from, to) followed by its reply, and the block's reply.
Lines block(std::uint32_t address, const Bytes& image, std::size_t from, std::size_t to) {
    Lines lines{writtenHex("46"), written(encodeAddress(address))};
    for (std::size_t offset = from; offset < to && offset < image.size(); offset += 4096) {
        const std::size_t n = std::min<std::size_t>(4096, image.size() - offset);
        lines.push_back(written(std::span(image).subspan(offset, n)));
        lines.push_back(kChunkStored);
    }
    lines.push_back(kBlockStored);
    return lines;
}

Lines concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Lines kStarted{logged(text::kWritingData)};
const Lines kFinished{writtenHex("5a"), logged(text::kSuccess)};

TEST(RegionWriter, PdsWithA64KbImageGoesToItsTwoBlocksAndEndsWithZ) {
    OperationsRig rig;
    const Bytes image = patternImage(0x10000, 1);
    rig.pickImage("pds.img", image);

    const Lines transcript = rig.run(writePds);

    const Lines expected = concat({kStarted, block(0x10010000, image, 0, 0x8000),
                                   block(0x10018000, image, 0x8000, 0x10000), kFinished});
    ASSERT_EQ(expected.size(), 1u + 2 * (2 + 16 + 1) + 2);
    expectTranscript(transcript, expected);
    EXPECT_EQ(rig.flash(0x10010000, 0x10000), image);
    EXPECT_EQ(rig.sim.chooser.timesShown(), 1u);
}

TEST(RegionWriter, PanicIsOneBlockOf32Chunks) {
    OperationsRig rig;
    const Bytes image = patternImage(0x20000, 2);
    rig.pickImage("panic.img", image);

    const Lines transcript = rig.run(writePanic);

    const Lines expected = concat({kStarted, block(0x10020000, image, 0, 0x20000), kFinished});
    ASSERT_EQ(expected.size(), 1u + 2 + 64 + 1 + 2);
    expectTranscript(transcript, expected);
    EXPECT_EQ(rig.flash(0x10020000, 0x20000), image);
}

TEST(RegionWriter, BootWithA0xFF00ByteImageSendsAShortLastChunk) {
    OperationsRig rig;
    const Bytes image = patternImage(0xFF00, 3);
    const Bytes erasedTail = rig.flash(0x1000FF00, 0x100);
    rig.pickImage("boot.img", image);

    const Lines transcript = rig.run(writeBoot);

    expectTranscript(transcript, concat({kStarted, block(0x10000000, image, 0, 0x8000),
                                         block(0x10008000, image, 0x8000, 0x10000), kFinished}));
    // The second block's eighth chunk: 0xF00 bytes, then its reply and the block's reply.
    const std::size_t lastChunk = 1 + 19 + 2 + 14;
    ASSERT_GT(transcript.size(), lastChunk + 2);
    EXPECT_EQ(transcript[lastChunk], written(std::span(image).subspan(0xF000, 0xF00)));
    EXPECT_EQ(transcript[lastChunk + 2], kBlockStored);
    EXPECT_EQ(rig.flash(0x10000000, 0xFF00), image);
    EXPECT_EQ(rig.flash(0x1000FF00, 0x100), erasedTail);
}

TEST(RegionWriter, AnImageLongerThanItsRegionSendsOnlyTheRegion) {
    OperationsRig rig;
    const Bytes beyond = rig.flash(0x10040000, 0x1000);
    struct Case {
        CommandBody body;
        std::uint32_t address;
        std::size_t region;
    };
    for (const Case& c : {Case{writeBoot, 0x10000000, 0x10000}, Case{writePds, 0x10010000, 0x10000},
                          Case{writePanic, 0x10020000, 0x20000}}) {
        const Bytes image = patternImage(c.region + 0x9000, 4);
        rig.pickImage("long.img", image);
        const Lines transcript = rig.run(c.body);
        const Bytes region(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(c.region));
        Lines expected = kStarted;
        for (std::size_t from = 0; from < c.region;) {
            const std::uint32_t at = c.address + static_cast<std::uint32_t>(from);
            const std::size_t size = at < 0x10020000 ? 0x8000 : 0x20000;
            expected = concat({expected, block(at, region, from, from + size)});
            from += size;
        }
        expectTranscript(transcript, concat({expected, kFinished}));
        EXPECT_EQ(rig.flash(c.address, c.region), region);
    }
    EXPECT_EQ(rig.flash(0x10040000, 0x1000), beyond);
}

TEST(RegionWriter, BlockRangeFromTheFieldsWritesUnalignedBlocksFromTheImageStart) {
    OperationsRig rig;
    rig.fields("10000000", "1003FFFF");
    const Bytes whole = patternImage(0x40000, 5);
    rig.pickImage("range.img", whole);
    expectTranscript(rig.run(writeBlockRange),
                     concat({kStarted, block(0x10000000, whole, 0x00000, 0x08000),
                             block(0x10008000, whole, 0x08000, 0x10000),
                             block(0x10010000, whole, 0x10000, 0x18000),
                             block(0x10018000, whole, 0x18000, 0x20000),
                             block(0x10020000, whole, 0x20000, 0x40000), kFinished}));
    EXPECT_EQ(rig.flash(0x10000000, 0x40000), whole);

    // End inside a block: the block after 1001C000 starts at 10024000 and is written whole.
    rig.fields("1001C000", "10030000");
    const Bytes split = patternImage(0x28000, 6);
    rig.pickImage("split.img", split);
    expectTranscript(rig.run(writeBlockRange),
                     concat({kStarted, block(0x1001C000, split, 0x0000, 0x8000),
                             block(0x10024000, split, 0x8000, 0x28000), kFinished}));
    EXPECT_EQ(rig.flash(0x1001C000, 0x8000), Bytes(split.begin(), split.begin() + 0x8000));
    EXPECT_EQ(rig.flash(0x10024000, 0x20000), Bytes(split.begin() + 0x8000, split.end()));
}

TEST(RegionWriter, EachWriteCommandAsksForItsOwnImageAndRepeatsExactly) {
    OperationsRig rig;
    rig.fields("1001C000", "10030000");
    const Bytes first = patternImage(0x28000, 7);
    rig.pickImage("first.img", first);
    const Lines once = rig.run(writeBlockRange);
    rig.sim.chooser.choose("first.img");
    expectTranscript(rig.run(writeBlockRange), once);

    const Bytes second = patternImage(0x28000, 8);
    rig.pickImage("second.img", second);
    rig.run(writeBlockRange);
    EXPECT_EQ(rig.sim.chooser.timesShown(), 3u);
    EXPECT_EQ(rig.flash(0x1001C000, 0x8000), Bytes(second.begin(), second.begin() + 0x8000));
}

// Mends: the image is read shared for reading; cancelling is silent; an image that can't be
// read says why, before anything is sent.
TEST(RegionWriter, AnImageThatCannotBeHadEndsTheCommandBeforeAnyBlock) {
    OperationsRig rig;
    rig.sim.chooser.cancel();
    EXPECT_EQ(rig.run(writePds), Lines{});
    EXPECT_EQ(rig.sim.chooser.timesShown(), 1u);

    rig.sim.chooser.choose("missing.img");
    EXPECT_EQ(rig.run(writePds), Lines{errorLogged(text::kCannotReadFile, "missing.img")});

    rig.pickImage("empty.img", {});
    EXPECT_EQ(rig.run(writePds), Lines{errorLogged(text::kCannotReadFile, "empty.img")});

    rig.pickImage("held.img", patternImage(0x10000, 9));
    rig.sim.files.failOpening("held.img", FileError::sharingViolation);
    EXPECT_EQ(rig.run(writePds), Lines{errorLogged(text::kFileInUse, "held.img")});

    rig.pickImage("huge.img", patternImage(0x10000, 9));
    rig.sim.files.reportSize("huge.img", std::uint64_t{1} << 32);
    EXPECT_EQ(rig.run(writePds), Lines{errorLogged(text::kFileTooLarge, "huge.img")});
    rig.sim.files.clearFaults();

    EXPECT_EQ(rig.sim.files.liveFiles(), 0u);
    EXPECT_EQ(rig.flash(0x10010000, 0x10), Bytes({0x11, 0x10, 0x13, 0x12, 0x15, 0x14, 0x17, 0x16,
                                                  0x19, 0x18, 0x1B, 0x1A, 0x1D, 0x1C, 0x1F, 0x1E}));

    // A read-only image is an image like any other: only reading is asked for.
    const Bytes image = patternImage(0x10000, 10);
    rig.pickImage("readonly.img", image);
    std::filesystem::permissions("readonly.img", std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::group_read |
                                                     std::filesystem::perms::others_read);
    EXPECT_EQ(rig.run(writePds).back(), logged(text::kSuccess));
    EXPECT_EQ(rig.flash(0x10010000, 0x10000), image);
}

// Mend: an image that would leave a chunk with nothing to send is refused before the first 'F'.
TEST(RegionWriter, AnImageTooShortForTheCommandIsRefusedBeforeAnythingIsSent) {
    OperationsRig rig;
    const Bytes before = rig.flash(0x10010000, 0x10000);
    rig.pickImage("short.img", patternImage(0xF000, 11));
    EXPECT_EQ(rig.run(writePds), Lines{errorLogged(text::kImageTooShort, "short.img")});
    EXPECT_EQ(rig.flash(0x10010000, 0x10000), before);

    rig.fields("10000000", "1003FFFF");  // needs more than 0x3F000 bytes
    rig.pickImage("short.img", patternImage(0x3F000, 11));
    EXPECT_EQ(rig.run(writeBlockRange), Lines{errorLogged(text::kImageTooShort, "short.img")});

    // One byte in the last chunk is enough: it goes as a chunk of its own.
    const Bytes justEnough = patternImage(0xF001, 12);
    rig.pickImage("enough.img", justEnough);
    const Lines transcript = rig.run(writePds);
    ASSERT_EQ(transcript.size(), 1u + 2 * 19 + 2);
    EXPECT_EQ(transcript[transcript.size() - 5], written(std::span(justEnough).subspan(0xF000)));
    EXPECT_EQ(transcript.back(), logged(text::kSuccess));
}

// Mend: a block range with nothing to write says so, shows no file dialog and sends nothing.
TEST(RegionWriter, ABlockRangeWithNothingToWriteIsRefusedWithoutAFileDialog) {
    OperationsRig rig;
    rig.sim.chooser.choose("never.img");
    rig.fields("10030000", "10010000");
    EXPECT_EQ(rig.run(writeBlockRange), Lines{errorLogged(text::kBadAddressRange)});
    rig.fields("10010000", "FFFFFFFF");  // End + 1 wraps to 0
    EXPECT_EQ(rig.run(writeBlockRange), Lines{errorLogged(text::kBadAddressRange)});
    EXPECT_EQ(rig.sim.chooser.timesShown(), 0u);
}

// Mend: a transfer that fails ends the command there, with one error line and no "Успешно".
TEST(RegionWriter, AFailedTransferEndsTheCommandAtOnce) {
    OperationsRig rig;
    const Bytes image = patternImage(0x10000, 13);
    const std::string chunk0 = written(std::span(image).subspan(0, 4096));
    const std::string chunk1 = written(std::span(image).subspan(4096, 4096));

    rig.pickImage("pds.img", image);
    // Transfers of the body: 1 'F', 2 address, 3 chunk, 4 its reply, 5 the next chunk.
    expectTranscript(
        rig.run(writePds, {{SimFaultKind::unplug, 5}}),
        (Lines{logged(text::kWritingData), writtenHex("46"), writtenHex("10010000"), chunk0,
               kChunkStored, chunk1 + " FAIL", errorLogged(text::kNoAnswerFromPhone)}));
}

TEST(RegionWriter, AChunkReplyThatNeverComesOrCarriesNothingEndsTheCommand) {
    const Bytes image = patternImage(0x10000, 14);
    const Lines head{logged(text::kWritingData), writtenHex("46"), writtenHex("10010000"),
                     written(std::span(image).subspan(0, 4096))};
    {
        OperationsRig rig;
        rig.pickImage("pds.img", image);
        expectTranscript(rig.run(writePds, {{SimFaultKind::hang, 4}}),
                         concat({head, {"R 2 4 FAIL", errorLogged(text::kNoAnswerFromPhone)}}));
    }
    {
        // Without a reply the phone may not have taken the chunk: no "Успешно" for that block.
        OperationsRig rig;
        rig.pickImage("pds.img", image);
        expectTranscript(
            rig.run(writePds, {{SimFaultKind::nodata, 4}}),
            concat({head, {"R 2 4", errorLogged(text::kWriteNotConfirmed, "10010000")}}));
    }
}

}  // namespace
}  // namespace norvale
