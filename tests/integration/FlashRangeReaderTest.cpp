// "Прочитать данные" against the simulated phone: the request, the replies, the dump file and its
// name, and what happens when the range, the file or the phone lets the command down.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "OperationsRig.h"
#include "operations/DumpFileName.h"
#include "operations/DumpWriter.h"
#include "operations/FlashRangeReader.h"

namespace norvale {
namespace {

using namespace norvale::testing;
using Lines = std::vector<std::string>;

std::string readingLine(std::string_view name) {
    std::string line(text::kReadingBlock.view());
    line += name;
    line += text::kLineEnd;
    return logged(line);
}

// The detail of a line that says how many bytes a stopped read left, and in which file.
std::string savedIn(std::uint64_t bytes, std::string_view partName) {
    return std::to_string(bytes) + text::kSavedInFile.str() + std::string(partName);
}

// The replies to a read request for `count` bytes from `start`, as the phone serves its flash.
// The driver takes a reply into a buffer of 4096 bytes; on the USB road each transfer asks for
// what the phone owes, in whole 64-byte packets.
Lines replies(OperationsRig& rig, std::uint32_t start, std::uint64_t count) {
    const bool usb = rig.state.device.load()->road() == Road::usb;
    Lines lines;
    for (std::uint64_t done = 0; done < count; done += 4096) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(4096, count - done));
        const std::size_t asked = usb ? (n + 63) / 64 * 64 : 4096;
        lines.push_back("R 2 " + std::to_string(asked) + ' ' +
                        hexOf(rig.flash(start + static_cast<std::uint32_t>(done), n)));
    }
    return lines;
}

// The whole transcript of a read that went well.
Lines completeRead(OperationsRig& rig, std::string_view name, std::string_view request,
                   std::uint32_t start, std::uint64_t count) {
    Lines lines{readingLine(name), writtenHex(std::string(request))};
    const Lines data = replies(rig, start, count);
    lines.insert(lines.end(), data.begin(), data.end());
    lines.push_back(writtenHex("5a"));
    lines.push_back(logged(text::kSuccess));
    return lines;
}

TEST(FlashRangeReader, TheInitialFieldsReadPdsIntoPdsBinAndSayUspeshnoOnlyAfterZ) {
    OperationsRig rig;
    const Lines transcript = rig.run(readRangeToFile);

    const Lines expected = completeRead(rig, "PDS.bin", "521001000000010000", 0x10010000, 0x10000);
    ASSERT_EQ(expected.size(), 2u + 16 + 2);
    expectTranscript(transcript, expected);
    EXPECT_EQ(fileBytes("PDS.bin"), rig.flash(0x10010000, 0x10000));
    EXPECT_EQ(rig.files(), Lines{"PDS.bin"});
    EXPECT_EQ(rig.sim.files.liveFiles(), 0u);
}

TEST(FlashRangeReader, KnownRegionsAreReadIntoTheirNamedFiles) {
    OperationsRig rig;
    struct Case {
        const char* start;
        const char* end;
        const char* name;
        const char* request;
        std::uint32_t count;
    };
    for (const Case& c :
         {Case{"10040000", "10091FFF", "CG3.bin", "521004000000052000", 0x52000},
          Case{"10040000", "1009FFFF", "CG3.bin", "521004000000060000", 0x60000},
          Case{"11FE0000", "11FFFFFF", "CG18.bin", "5211fe000000020000", 0x20000},
          Case{"12FE0000", "12FFFFFF", "CG18.bin", "5212fe000000020000", 0x20000},
          Case{"13FE0000", "13FFFFFF", "CG18.bin", "5213fe000000020000", 0x20000}}) {
        SCOPED_TRACE(c.start);
        rig.fields(c.start, c.end);
        const std::uint32_t start = parseHexAddress(c.start);
        expectTranscript(rig.run(readRangeToFile),
                         completeRead(rig, c.name, c.request, start, c.count));
        EXPECT_EQ(fileBytes(c.name), rig.flash(start, c.count));
        std::filesystem::remove(c.name);
    }
}

TEST(FlashRangeReader, OtherRangesAreNamedFromTheFieldTexts) {
    OperationsRig rig;
    rig.fields("10030000", "1003ffff");
    expectTranscript(
        rig.run(readRangeToFile),
        completeRead(rig, "10030000-1003ffff.bin", "521003000000010000", 0x10030000, 0x10000));
    rig.fields("3000", "3FFF");  // a Start text shorter than 8 stands alone
    expectTranscript(rig.run(readRangeToFile),
                     completeRead(rig, "3000", "520000300000001000", 0x3000, 0x1000));
    EXPECT_EQ(fileBytes("3000"), rig.flash(0x3000, 0x1000));
    EXPECT_EQ(rig.files(), (Lines{"10030000-1003ffff.bin", "3000"}));
}

TEST(FlashRangeReader, OneByteAndOneByteMoreThanAReplyAreReadWhole) {
    OperationsRig rig;
    rig.fields("10030000", "10030000");
    expectTranscript(rig.run(readRangeToFile), completeRead(rig, "10030000-10030000.bin",
                                                            "521003000000000001", 0x10030000, 1));
    EXPECT_EQ(fileBytes("10030000-10030000.bin"), rig.flash(0x10030000, 1));

    rig.fields("10031000", "10032000");
    const Lines transcript = rig.run(readRangeToFile);
    expectTranscript(transcript, completeRead(rig, "10031000-10032000.bin", "521003100000001001",
                                              0x10031000, 0x1001));
    EXPECT_EQ(transcript[3], "R 2 4096 " + hexOf(rig.flash(0x10032000, 1)));
    EXPECT_EQ(fileBytes("10031000-10032000.bin"), rig.flash(0x10031000, 0x1001));
}

// Mend: dump files are never overwritten, and a name that can't be used says why. A ".part" file
// left by an earlier read blocks the name as much as a whole dump does, and is kept as it is.
TEST(FlashRangeReader, ADumpFileThatCannotBeCreatedStopsTheCommandBeforeTheRequest) {
    OperationsRig rig;
    rig.run(readRangeToFile);
    const Bytes first = fileBytes("PDS.bin");
    expectTranscript(rig.run(readRangeToFile),
                     {readingLine("PDS.bin"), errorLogged(text::kFileExists, "PDS.bin")});
    EXPECT_EQ(fileBytes("PDS.bin"), first);

    putFile("Boot.bin", {1, 2, 3});
    rig.fields("10000000", "1000FFFF");
    expectTranscript(rig.run(readRangeToFile),
                     {readingLine("Boot.bin"), errorLogged(text::kFileExists, "Boot.bin")});
    EXPECT_EQ(fileBytes("Boot.bin"), (Bytes{1, 2, 3}));

    putFile("Panic.bin.part", {4, 5});
    rig.fields("10020000", "1003FFFF");
    expectTranscript(rig.run(readRangeToFile),
                     {readingLine("Panic.bin"), errorLogged(text::kFileExists, "Panic.bin.part")});
    EXPECT_EQ(fileBytes("Panic.bin.part"), (Bytes{4, 5}));

    struct Case {
        const char* start;
        const char* name;
    };
    // "1:" is refused by Windows; "nul" and "con" would swallow the dump; "" names nothing.
    for (const Case& c : {Case{"1:", "1:"}, Case{"nul", "nul"}, Case{"Con", "Con"}, Case{"", ""},
                          Case{"..\\1", "..\\1"}}) {
        rig.fields(c.start, "0000FFFF");
        expectTranscript(rig.run(readRangeToFile),
                         {readingLine(c.name), errorLogged(text::kInvalidFileName, c.name)});
    }

    rig.fields("10030000", "1003FFFF");
    rig.sim.files.failOpening("10030000-1003FFFF.bin.part", FileError::accessDenied);
    expectTranscript(rig.run(readRangeToFile),
                     {readingLine("10030000-1003FFFF.bin"),
                      errorLogged(text::kCannotCreateFile, "10030000-1003FFFF.bin.part")});
    EXPECT_EQ(rig.files(), (Lines{"Boot.bin", "PDS.bin", "Panic.bin.part"}));
}

// Mend: Start above End is refused, with no file and nothing sent.
TEST(FlashRangeReader, StartAboveEndIsRefusedWithoutAFile) {
    OperationsRig rig;
    rig.fields("10030000", "3FFFF");
    expectTranscript(rig.run(readRangeToFile), {errorLogged(text::kBadAddressRange)});
    rig.fields("00000000", "FFFFFFFF");  // 4 GB: more than a request can ask for
    expectTranscript(rig.run(readRangeToFile), {errorLogged(text::kBadAddressRange)});
    EXPECT_EQ(rig.files(), Lines{});
}

// Mend: a reply without data, or a dump that can't take more, ends the loop; the file keeps
// what arrived, the log says how much, no "Успешно", and 'Z' still ends the loader's read.
TEST(FlashRangeReader, AReplyWithoutDataEndsTheReadAndKeepsWhatArrived) {
    OperationsRig rig;
    // Transfers of the body: 1 the request, 2 and 3 two replies, 4 the third read.
    const Lines transcript = rig.run(readRangeToFile, {{SimFaultKind::nodata, 4}});
    Lines expected{readingLine("PDS.bin"), writtenHex("521001000000010000")};
    const Lines data = replies(rig, 0x10010000, 0x2000);
    expected.insert(expected.end(), data.begin(), data.end());
    expected.insert(expected.end(),
                    {"R 2 4096", errorLogged(text::kReadInterrupted, savedIn(8192, "PDS.bin.part")),
                     writtenHex("5a")});
    expectTranscript(transcript, expected);
    EXPECT_EQ(fileBytes("PDS.bin.part"), rig.flash(0x10010000, 0x2000));
    EXPECT_EQ(rig.files(), Lines{"PDS.bin.part"});
    EXPECT_EQ(rig.sim.files.liveFiles(), 0u);
}

// The replies go to the disk off the transfer path, so by the time the failed write is known
// the phone may have sent a few more: they were read in order, as far as the writer's buffers
// allowed, and the line says what the file holds, on either road.
TEST(FlashRangeReader, AFullDiskEndsTheReadAndSaysHowMuchTheDumpHolds) {
    for (const Road road : {Road::driver, Road::usb}) {
        SCOPED_TRACE(road == Road::usb ? "usb" : "driver");
        OperationsRig rig(road);
        rig.sim.files.limitSpace(5000);
        const Lines transcript = rig.run(readRangeToFile);
        rig.sim.files.limitSpace(std::nullopt);
        // The reading line and the request, the replies read, the error line and 'Z'.
        ASSERT_GE(transcript.size(), 4u);
        const std::size_t read = transcript.size() - 4;
        EXPECT_GE(read, 2u) << "the second reply is the one the disk can't take";
        EXPECT_LE(read, 16u);
        Lines expected{readingLine("PDS.bin"), writtenHex("521001000000010000")};
        const Lines data = replies(rig, 0x10010000, 0x10000);
        expected.insert(
            expected.end(), data.begin(),
            data.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(read, 16)));
        expected.insert(
            expected.end(),
            {errorLogged(text::kCannotWriteFile, savedIn(5000, "PDS.bin.part")), writtenHex("5a")});
        expectTranscript(transcript, expected);
        EXPECT_EQ(fileBytes("PDS.bin.part"), rig.flash(0x10010000, 5000));
        EXPECT_EQ(rig.files(), Lines{"PDS.bin.part"});
    }
}

// A disk that stalls holds up no transfer until every buffer of the writer waits for it, and
// loses or reorders no reply: the first write is held until the reader has filled all of them,
// and every write after it dawdles.
TEST(FlashRangeReader, ASlowDiskNeitherHoldsUpTheTransfersNorLosesOrReordersReplies) {
    for (const Road road : {Road::driver, Road::usb}) {
        SCOPED_TRACE(road == Road::usb ? "usb" : "driver");
        OperationsRig rig(road);
        const auto repliesRead = [&] {
            const Lines trace = rig.sim.driver.trace();
            return static_cast<std::size_t>(
                std::count_if(trace.begin(), trace.end(), [](const std::string& line) {
                    return line.rfind("R 2 4096 ", 0) == 0 && line.size() > 9;
                }));
        };
        std::atomic<bool> firstWrite{true};
        bool ranAhead = false;  // written by the writer's thread, read once it has ended
        rig.sim.files.beforeAppend([&] {
            if (!firstWrite.exchange(false)) {
                std::this_thread::sleep_for(std::chrono::microseconds(300));
                return;
            }
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (repliesRead() < DumpWriter::kBuffers &&
                   std::chrono::steady_clock::now() < giveUp) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            ranAhead = repliesRead() == DumpWriter::kBuffers;
        });
        static_assert(0x40000 == 2 * DumpWriter::kBuffers * 4096, "twice the writer's buffers");
        rig.fields("10040000", "1007FFFF");
        const Lines transcript = rig.run(readRangeToFile);
        rig.sim.files.beforeAppend({});
        EXPECT_TRUE(ranAhead) << "the transfers waited for the disk before the buffers ran out";
        expectTranscript(transcript, completeRead(rig, "10040000-1007FFFF.bin",
                                                  "521004000000040000", 0x10040000, 0x40000));
        EXPECT_EQ(fileBytes("10040000-1007FFFF.bin"), rig.flash(0x10040000, 0x40000));
    }
}

// Mend: a failed transfer ends the command at once: no "Успешно", no 'Z', the file is closed.
TEST(FlashRangeReader, AFailedTransferEndsTheReadAtOnce) {
    OperationsRig rig;
    const Lines transcript = rig.run(readRangeToFile, {{SimFaultKind::unplug, 3}});
    expectTranscript(transcript, {readingLine("PDS.bin"), writtenHex("521001000000010000"),
                                  replies(rig, 0x10010000, 0x1000)[0], "R 2 4096 FAIL",
                                  errorLogged(text::kNoAnswerFromPhone)});
    EXPECT_EQ(fileBytes("PDS.bin.part"), rig.flash(0x10010000, 0x1000));
    EXPECT_EQ(rig.files(), Lines{"PDS.bin.part"});
    EXPECT_EQ(rig.sim.files.liveFiles(), 0u);
}

// The dump is whole, but the phone is gone before 'Z': the command did not complete, so no
// "Успешно"; the dump was whole before 'Z' and has its name.
TEST(FlashRangeReader, APhonePulledBeforeTheFinalZIsNoSuccess) {
    OperationsRig rig;
    const Lines transcript = rig.run(readRangeToFile, {{SimFaultKind::unplug, 18}});
    Lines expected{readingLine("PDS.bin"), writtenHex("521001000000010000")};
    const Lines data = replies(rig, 0x10010000, 0x10000);
    expected.insert(expected.end(), data.begin(), data.end());
    expected.insert(expected.end(),
                    {writtenHex("5a") + " FAIL", errorLogged(text::kNoAnswerFromPhone)});
    expectTranscript(transcript, expected);
    EXPECT_EQ(fileBytes("PDS.bin"), rig.flash(0x10010000, 0x10000));
    EXPECT_EQ(rig.files(), Lines{"PDS.bin"});
}

// Mend: a whole dump whose name is taken while it is read (another program, a second copy of
// this one) does not replace that file; it stays under ".part", and so it does when the rename
// fails for another reason. Either way the line names both files and there is no "Успешно".
TEST(FlashRangeReader, ANameTakenDuringTheReadIsNotReplaced) {
    OperationsRig rig;
    rig.fields("10030000", "10031FFF");
    const std::string name = "10030000-10031FFF.bin";
    const std::string part = name + ".part";
    rig.sim.files.afterAppend(1, [&] { putFile(name, {7, 7, 7}); });
    Lines expected{readingLine(name), writtenHex("521003000000002000")};
    const Lines data = replies(rig, 0x10030000, 0x2000);
    expected.insert(expected.end(), data.begin(), data.end());
    expected.insert(
        expected.end(),
        {errorLogged(text::kFileExists, name + text::kDumpKeptIn.str() + part), writtenHex("5a")});
    expectTranscript(rig.run(readRangeToFile), expected);
    EXPECT_EQ(fileBytes(name), (Bytes{7, 7, 7}));
    EXPECT_EQ(fileBytes(part), rig.flash(0x10030000, 0x2000));

    rig.fields("10040000", "10091FFF");
    rig.sim.files.failRenaming("CG3.bin", FileError::accessDenied);
    const Lines transcript = rig.run(readRangeToFile);
    ASSERT_GE(transcript.size(), 2u);
    EXPECT_EQ(
        transcript[transcript.size() - 2],
        errorLogged(text::kCannotRenameFile, "CG3.bin.part" + text::kRenamedTo.str() + "CG3.bin"));
    EXPECT_EQ(transcript.back(), writtenHex("5a"));
    EXPECT_EQ(fileBytes("CG3.bin.part"), rig.flash(0x10040000, 0x52000));
    EXPECT_EQ(rig.files(),
              (Lines{"10030000-10031FFF.bin", "10030000-10031FFF.bin.part", "CG3.bin.part"}));
}

// On the USB road reads are queued ahead of the replies, never more than the range has replies
// left for: a read beyond them would take what the phone says to the next command. The wire
// carries what the driver road carries, and every queued read is one of the range's.
TEST(FlashRangeReader, OnTheUsbRoadReadsGoAheadOfTheRepliesButNeverBeyondTheRange) {
    OperationsRig rig(Road::usb);
    struct Case {
        const char* start;
        const char* end;
        const char* request;
        std::uint32_t count;
        std::size_t mostInFlight;  // the most the range allows, ever larger so the maximum shows
    };
    for (const Case& c : {Case{"10030000", "10030000", "521003000000000001", 1, 1},
                          Case{"10031000", "10032FFF", "521003100000002000", 0x2000, 2},
                          Case{"10031000", "10033000", "521003100000002001", 0x2001, 3},
                          Case{"10010000", "1001FFFF", "521001000000010000", 0x10000, 4}}) {
        SCOPED_TRACE(c.end);
        rig.fields(c.start, c.end);
        const std::uint32_t start = parseHexAddress(c.start);
        const SimUsbQueueCounters before = rig.sim.driver.queueCounters();
        const Lines transcript = rig.run(readRangeToFile);
        const SimUsbQueueCounters after = rig.sim.driver.queueCounters();
        const std::string name = dumpFileName(c.start, c.end, start, parseHexAddress(c.end));
        expectTranscript(transcript, completeRead(rig, name, c.request, start, c.count));
        EXPECT_EQ(fileBytes(name), rig.flash(start, c.count));
        EXPECT_EQ(after.submitted - before.submitted, (c.count + 4095) / 4096);
        EXPECT_EQ(after.cancelled, before.cancelled);
        EXPECT_EQ(after.mostOutstanding, c.mostInFlight);
        EXPECT_EQ(after.liveQueues, 0u);
    }
}

// The phone goes, or stops answering, while reads are queued behind the one it fails: the read
// ends as it does one transfer at a time (the same lines, no 'Z'), the reads behind are cancelled
// before the command ends, and the dump holds every reply that came.
TEST(FlashRangeReader, APhoneLostWithReadsInFlightEndsTheReadWithEveryReplyThatCame) {
    for (const SimFaultKind fault : {SimFaultKind::unplug, SimFaultKind::hang}) {
        OperationsRig rig(Road::usb);
        SCOPED_TRACE(fault == SimFaultKind::unplug ? "unplug" : "hang");
        const SimUsbQueueCounters before = rig.sim.driver.queueCounters();
        // Transfers of the body: 1 the request, 2 to 6 the first five replies, 7 fails.
        const Lines transcript = rig.run(readRangeToFile, {{fault, 7}});
        const SimUsbQueueCounters after = rig.sim.driver.queueCounters();
        Lines expected{readingLine("PDS.bin"), writtenHex("521001000000010000")};
        const Lines data = replies(rig, 0x10010000, 5 * 0x1000);
        expected.insert(expected.end(), data.begin(), data.end());
        expected.push_back("R 2 4096 FAIL");
        if (fault == SimFaultKind::hang) {
            // The phone is still there and still sending the range: what it sends after the
            // reply that never came is drained, so the next command reads its own replies.
            const Lines rest = replies(rig, 0x10015000, 11 * 0x1000);
            expected.insert(expected.end(), rest.begin(), rest.end());
            expected.push_back("R 2 4096 FAIL");
        }
        expected.push_back(errorLogged(text::kNoAnswerFromPhone));
        expectTranscript(transcript, expected);
        EXPECT_EQ(fileBytes("PDS.bin.part"), rig.flash(0x10010000, 5 * 0x1000));
        // The three queued behind the one that failed, and the hung one itself once given up.
        EXPECT_EQ(after.cancelled - before.cancelled, fault == SimFaultKind::hang ? 4u : 3u);
        EXPECT_EQ(after.liveQueues, 0u);
        EXPECT_EQ(rig.sim.files.liveFiles(), 0u);
    }
}

}  // namespace
}  // namespace norvale
