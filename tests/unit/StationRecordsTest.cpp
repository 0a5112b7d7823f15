// What a station leaves on disk besides the dumps: the journal's lines and the phones' folders.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "integration/OperationsRig.h"
#include "sim/HostFileSystem.h"
#include "station/JournalRecord.h"
#include "station/JsonText.h"
#include "station/PhoneFolder.h"
#include "station/StationJournal.h"

namespace norvale {
namespace {

using namespace std::chrono;
using testing::fileBytes;
using testing::putFile;

std::string u8string(std::u8string_view text) { return std::string(text.begin(), text.end()); }

// 2026-12-08 08:22:31 UTC and a little over a minute later.
const WallTime kStarted =
    sys_days{year{2026} / December / 8} + hours{8} + minutes{22} + seconds{31};
const WallTime kEnded = kStarted + milliseconds{65'900};

std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class ScratchFolder {
public:
    ScratchFolder() : previous_(std::filesystem::current_path()) {
        static int counter = 0;
        folder_ =
            std::filesystem::temp_directory_path() /
            ("norvale-station-" + std::to_string(steady_clock::now().time_since_epoch().count()) +
             "-" + std::to_string(counter++));
        std::filesystem::create_directories(folder_);
        std::filesystem::current_path(folder_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(folder_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};

JournalRecord failedRead() {
    JournalRecord record;
    record.location = "sim-2";
    record.road = "usb";
    record.serial = "SIM0002";
    record.bootVersion = "0C60";
    record.mode = "FLASH ";
    record.started = kStarted;
    record.ended = kEnded;
    record.commands = {
        {"backup",
         "done",
         0x40000,
         5021,
         {{"sim-2-20261208-082231/Boot.bin", std::string(64, 'a')},
          {"sim-2-20261208-082231/SHA256SUMS", std::string(64, 'b')}}},
        {"read pds -o pds.bin", "failed", 8192, 730, {}},
        {"start", "not_run", 0, 0, {}},
    };
    record.exitCode = 3;
    record.reason = "no_answer";
    record.error = "ERROR - no connection with the phone";
    return record;
}

TEST(JournalLine, ARunIsOneLineWithItsFieldsInOrder) {
    EXPECT_EQ(journalLine(failedRead()),
              R"({"location":"sim-2","road":"usb","serial":"SIM0002","boot_version":"0C60",)"
              R"("mode":"FLASH ","started":"2026-12-08T08:22:31Z","ended":"2026-12-08T08:23:36Z",)"
              R"("commands":[)"
              R"({"command":"backup","result":"done","bytes":262144,"ms":5021,"files":[)"
              R"({"name":"sim-2-20261208-082231/Boot.bin","sha256":")" +
                  std::string(64, 'a') +
                  R"("},{"name":"sim-2-20261208-082231/SHA256SUMS","sha256":")" +
                  std::string(64, 'b') +
                  R"("}]},{"command":"read pds -o pds.bin","result":"failed","bytes":8192,)"
                  R"("ms":730,"files":[]},{"command":"start","result":"not_run","bytes":0,"ms":0,)"
                  R"("files":[]}],)"
                  R"("verify":"","exit_code":3,"reason":"no_answer",)"
                  R"("error":"ERROR - no connection with the phone"})"
                  "\n");

    JournalRecord done;
    done.location = "1-1.3";
    done.road = "driver";
    done.started = kStarted;
    done.ended = kStarted;
    done.verify = "passed";
    EXPECT_EQ(journalLine(done),
              R"({"location":"1-1.3","road":"driver","serial":"","boot_version":"","mode":"",)"
              R"("started":"2026-12-08T08:22:31Z","ended":"2026-12-08T08:22:31Z","commands":[],)"
              R"("verify":"passed","exit_code":0,"reason":"","error":""})"
              "\n");
}

TEST(JournalLine, ThePhonesBytesAndTheOperatorsTextsStayValidJsonOnOneLine) {
    JournalRecord record = failedRead();
    record.commands.clear();
    // The mode as a phone in BLANK mode says it, in Windows-1251, with a stray control byte.
    record.mode = "\xC1\xCB\xC0\xCD\xCA\x01";
    record.bootVersion = "\"0C\\60\"\t\r\n\x1f";
    record.error = u8string(u8"ОШИБКА - файл уже существует: C:\\дампы\\PDS.bin");
    EXPECT_EQ(journalLine(record),
              u8string(u8R"({"location":"sim-2","road":"usb","serial":"SIM0002",)"
                       u8R"("boot_version":"\"0C\\60\"\t\r\n\u001f","mode":"БЛАНК\u0001",)"
                       u8R"("started":"2026-12-08T08:22:31Z","ended":"2026-12-08T08:23:36Z",)"
                       u8R"("commands":[],"verify":"","exit_code":3,"reason":"no_answer",)"
                       u8R"("error":"ОШИБКА - файл уже существует: C:\\дампы\\PDS.bin"})"
                       u8"\n"));

    // Bytes that are no UTF-8 (a name in another code page, a cut sequence) can't break the
    // line: each becomes U+FFFD.
    const std::string out = jsonString("a\xFF"
                                       "b\xD0"
                                       "\xC0\xAF"
                                       "\xED\xA0\x80"
                                       "\xF0\x9F\x98\x80"
                                       "\x7F\b");
    EXPECT_EQ(
        out,
        u8string(u8"\"a\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\U0001F600\\u007f\\u0008\""));
}

TEST(StationJournal, EachRecordIsAppendedWholeAndFlushedAfterWhatTheFileHeld) {
    ScratchFolder scratch;
    HostFileSystem files;
    const std::string earlier = journalLine(failedRead());
    putFile("journal.jsonl", Bytes(earlier.begin(), earlier.end()));

    StationJournal journal(files, "journal.jsonl");
    ASSERT_EQ(journal.open(), FileError::none);
    JournalRecord second = failedRead();
    second.location = "sim-3";
    ASSERT_EQ(journal.append(second), FileError::none);
    EXPECT_EQ(files.flushes(), 1u);
    EXPECT_EQ(textOf(fileBytes("journal.jsonl")), earlier + journalLine(second));

    // A journal that did not exist is made.
    StationJournal fresh(files, "new.jsonl");
    ASSERT_EQ(fresh.open(), FileError::none);
    ASSERT_EQ(fresh.append(second), FileError::none);
    EXPECT_EQ(textOf(fileBytes("new.jsonl")), journalLine(second));
}

TEST(StationJournal, ALineTornByAnEarlierCrashIsEndedBeforeTheNextRecord) {
    ScratchFolder scratch;
    HostFileSystem files;
    const std::string whole = journalLine(failedRead());
    const std::string torn = whole + whole.substr(0, 40);
    putFile("journal.jsonl", Bytes(torn.begin(), torn.end()));

    StationJournal journal(files, "journal.jsonl");
    ASSERT_EQ(journal.open(), FileError::none);
    ASSERT_EQ(journal.append(failedRead()), FileError::none);
    // The torn line stays as it was, on a line of its own; the new record is whole after it.
    EXPECT_EQ(textOf(fileBytes("journal.jsonl")), torn + "\n" + whole);

    // A disk that fills up mid-line tears it too: the next record still starts a line.
    files.limitSpace(10);
    EXPECT_EQ(journal.append(failedRead()), FileError::diskFull);
    files.limitSpace(std::nullopt);
    ASSERT_EQ(journal.append(failedRead()), FileError::none);
    EXPECT_EQ(textOf(fileBytes("journal.jsonl")),
              torn + "\n" + whole + whole.substr(0, 10) + "\n" + whole);

    // A flush the disk refuses is a failed record, not a silent one.
    files.failFlushing(FileError::other);
    EXPECT_EQ(journal.append(failedRead()), FileError::other);
}

TEST(StationJournal, RecordsFromManySessionsAtOnceNeverShareALine) {
    ScratchFolder scratch;
    HostFileSystem files;
    StationJournal journal(files, "journal.jsonl");
    ASSERT_EQ(journal.open(), FileError::none);
    std::vector<std::string> expected;
    std::vector<std::thread> sessions;
    for (int phone = 1; phone <= 4; ++phone) {
        JournalRecord record = failedRead();
        record.location = "sim-" + std::to_string(phone);
        expected.push_back(journalLine(record));
        sessions.emplace_back([&journal, record] {
            for (int run = 0; run < 25; ++run) EXPECT_EQ(journal.append(record), FileError::none);
        });
    }
    for (std::thread& session : sessions) session.join();
    const std::string text = textOf(fileBytes("journal.jsonl"));
    std::size_t lines = 0;
    for (std::size_t begin = 0; begin < text.size(); ++lines) {
        const std::size_t end = text.find('\n', begin) + 1;
        const std::string line = text.substr(begin, end - begin);
        EXPECT_NE(std::find(expected.begin(), expected.end(), line), expected.end()) << line;
        begin = end;
    }
    EXPECT_EQ(lines, 100u);
}

TEST(PhoneFolder, LocationsBecomeNamesBothSystemsTake) {
    EXPECT_EQ(locationFileName("1-1.3"), "1-1.3");
    EXPECT_EQ(locationFileName("sim-12"), "sim-12");
    // The maker's driver interface: the prefix and the class GUID go, the instance stays.
    EXPECT_EQ(locationFileName(R"(\\?\usb#vid_22b8&pid_4903#5&1a2b3c&0&2#)"
                               "{a5dcbf10-6530-11d2-901f-00c04fb951ed}"),
              "usb_vid_22b8_pid_4903_5_1a2b3c_0_2");
    EXPECT_EQ(locationFileName(R"(..\..\x:y*z?"<>|)"), "x_y_z");
    EXPECT_EQ(locationFileName(u8string(u8"порт 3")), "3");
    EXPECT_EQ(locationFileName("\\\\?\\"), "phone");
    EXPECT_EQ(locationFileName(""), "phone");

    // Long locations keep a readable start and stay apart by their hash.
    const std::string longA = "usb-" + std::string(60, 'a') + "-1";
    const std::string longB = "usb-" + std::string(60, 'a') + "-2";
    const std::string nameA = locationFileName(longA);
    EXPECT_EQ(nameA.size(), 48u);
    EXPECT_EQ(nameA.substr(0, 39), "usb-" + std::string(35, 'a'));
    EXPECT_NE(nameA, locationFileName(longB));
    EXPECT_EQ(nameA, locationFileName(longA));

    EXPECT_EQ(phoneFolderName("1-1.3", kStarted), "1-1.3-20261208-082231");
}

TEST(PhoneFolder, ATakenNameGetsASuffixAndNothingOfAnEarlierRunIsReused) {
    ScratchFolder scratch;
    HostFileSystem files(FileNameStyle::posix);
    std::filesystem::create_directories("out/sim-1-20261208-082231");
    putFile("out/sim-1-20261208-082231-2", {1});  // a file, not a folder, holds the next name
    EXPECT_EQ(createPhoneFolder(files, "out", "sim-1", kStarted),
              (std::filesystem::path("out") / "sim-1-20261208-082231-3").string());
    EXPECT_EQ(createPhoneFolder(files, "out", "sim-1", kStarted),
              (std::filesystem::path("out") / "sim-1-20261208-082231-4").string());
    EXPECT_EQ(createPhoneFolder(files, "", "sim-2", kStarted), "sim-2-20261208-082231");
    EXPECT_TRUE(std::filesystem::is_directory("sim-2-20261208-082231"));
    EXPECT_EQ(fileBytes("out/sim-1-20261208-082231-2"), Bytes{1});
    EXPECT_EQ(createPhoneFolder(files, "no/such/parent", "sim-1", kStarted), std::nullopt);
}

}  // namespace
}  // namespace norvale
