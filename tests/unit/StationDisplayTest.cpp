// How a station shows its phones: the live table on a terminal, prefixed whole lines elsewhere.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/LiveTable.h"
#include "cli/PrefixedConsole.h"
#include "cli/StationTable.h"
#include "integration/CliRig.h"

namespace norvale {
namespace {

using testing::FakeConsole;
using Lines = std::vector<std::string>;

std::string u8string(std::u8string_view text) { return std::string(text.begin(), text.end()); }

StationSnapshot threePhones() {
    StationSnapshot snapshot;
    snapshot.elapsedMs = 3'725'400;  // 1:02:05
    snapshot.running = 1;
    snapshot.done = 1;
    snapshot.failed = 1;
    TableRow reading{"sim-1",
                     "usb",
                     TableRow::State::running,
                     2,
                     3,
                     "write",
                     TableTransfer{24 * 1024, 64 * 1024, 2000},
                     ""};
    TableRow done{"sim-2", "usb", TableRow::State::done, 3, 3, "start", std::nullopt, ""};
    TableRow failed{"usb_vid_22b8_pid_4903_5_1a2b3c_0_2",
                    "driver",
                    TableRow::State::failed,
                    1,
                    3,
                    "backup",
                    std::nullopt,
                    "no connection with the phone"};
    snapshot.rows = {reading, done, failed};
    return snapshot;
}

TEST(StationTable, EachPhoneHasALineFittedToTheTerminal) {
    EXPECT_EQ(formatStationTable(threePhones(), 120),
              (Lines{"Station 1:02:05  running 1  done 1  failed 1",
                     "sim-1                     usb     2/3 write   [#######............]"
                     "  24.0 KiB of 64.0 KiB  12.0 KiB/s  0:03 left",
                     "sim-2                     usb     3/3 start   done",
                     "usb_vid_22b8_pid_4903_5_  driver  1/3 backup  failed: no connection with "
                     "the phone"}));
}

TEST(StationTable, NarrowTerminalsCutLinesByCharactersNotBytes) {
    StationSnapshot snapshot = threePhones();
    snapshot.rows[2].location = "1-1.3";
    snapshot.rows[2].reason = u8string(u8"нет связи с телефоном");
    snapshot.rows[0].transfer = TableTransfer{0, 0x12C0000, 50};
    const Lines lines = formatStationTable(snapshot, 40);
    EXPECT_EQ(lines,
              (Lines{"Station 1:02:05  running 1  done 1  fai",
                     "sim-1  usb     2/3 write     0 B of 18.", "sim-2  usb     3/3 start   done",
                     u8string(u8"1-1.3  driver  1/3 backup  failed: нет")}));
    for (const std::string& line : lines) EXPECT_LE(characterCount(line), 39u) << line;

    // Before its first command a phone shows where it is and the chain's length.
    snapshot.rows = {TableRow{"sim-4", "usb", TableRow::State::running, 0, 3, "", {}, ""}};
    EXPECT_EQ(formatStationTable(snapshot, 80)[1], "sim-4  usb     -/3");
}

TEST(LiveTable, EachDrawingGoesUpOverTheLastAndErasesWhatItLeftBelow) {
    EXPECT_EQ(redrawText(0, {"a", "b"}), "\ra\x1b[K\nb\x1b[K\n");
    EXPECT_EQ(redrawText(2, {"a", "b", "c"}), "\r\x1b[2Aa\x1b[K\nb\x1b[K\nc\x1b[K\n");
    EXPECT_EQ(redrawText(3, {"x"}), "\r\x1b[3Ax\x1b[K\n\x1b[J");

    FakeConsole console;
    VirtualClock clock;
    LiveTable table(console, clock);
    EXPECT_TRUE(table.draw({"t1", "r1"}, false));
    clock.sleep(50);
    EXPECT_FALSE(table.draw({"t2", "r2"}, false));  // ten drawings a second at most
    EXPECT_TRUE(table.draw({"t3", "r3"}, true));    // a phone's end is shown at once
    clock.sleep(100);
    EXPECT_TRUE(table.draw({"t4", "r4"}, false));
    table.printAbove("[sim-1] ERROR - no connection with the phone\n");
    EXPECT_TRUE(table.draw({"t5"}, false));
    EXPECT_EQ(console.out, "\rt1\x1b[K\nr1\x1b[K\n"
                           "\r\x1b[2At3\x1b[K\nr3\x1b[K\n"
                           "\r\x1b[2At4\x1b[K\nr4\x1b[K\n"
                           "\r\x1b[2A\x1b[J[sim-1] ERROR - no connection with the phone\n"
                           "\rt5\x1b[K\n");
}

TEST(PrefixedConsole, PartialLinesOfTwoPhonesComeOutWholeEachAfterItsLocation) {
    FakeConsole console;
    std::mutex lock;
    {
        PrefixedConsole first(console, lock, "sim-1");
        PrefixedConsole second(console, lock, "1-1.3");
        first.write(ConsoleStream::output, "Sending the ");
        second.write(ConsoleStream::output, "Phone conn");
        first.write(ConsoleStream::errors, "ERROR - no connection");
        second.write(ConsoleStream::output, "ected\nBoot version: 0C60\nMode: ");
        first.write(ConsoleStream::output, "loader\nJMP01\n");
        first.write(ConsoleStream::errors, " with the phone\n");
        second.write(ConsoleStream::output, "FLASH ");
        EXPECT_FALSE(first.isTerminal(ConsoleStream::output));
    }  // what is left without its line end goes out whole when the phone's console goes
    EXPECT_EQ(console.out, "[1-1.3] Phone connected\n[1-1.3] Boot version: 0C60\n"
                           "[sim-1] Sending the loader\n[sim-1] JMP01\n[1-1.3] Mode: FLASH \n");
    EXPECT_EQ(console.err, "[sim-1] ERROR - no connection with the phone\n");
}

// A console that records each write as a whole, to see what one write held.
class WriteRecorder final : public Console {
public:
    void write(ConsoleStream /*stream*/, std::string_view text) override {
        std::lock_guard lock(mutex_);
        writes.emplace_back(text);
    }
    bool isTerminal(ConsoleStream /*stream*/) const override { return false; }
    unsigned width() const override { return 80; }
    std::string language() const override { return "en"; }
    std::string nativeToUtf8(std::string_view text) const override { return std::string(text); }
    void watchInterrupt(std::atomic<bool>* /*flag*/) override {}
    bool enableCursorMoves() override { return false; }

    std::vector<std::string> writes;

private:
    std::mutex mutex_;
};

TEST(PrefixedConsole, PhonesWritingAtOnceGetOneConsoleWritePerLine) {
    WriteRecorder recorder;
    std::mutex lock;
    std::vector<std::thread> phones;
    for (int phone = 1; phone <= 3; ++phone) {
        phones.emplace_back([&recorder, &lock, phone] {
            PrefixedConsole console(recorder, lock, "sim-" + std::to_string(phone));
            for (int line = 0; line < 50; ++line) {
                console.write(ConsoleStream::output, "line ");
                console.write(ConsoleStream::output, std::to_string(line));
                console.write(ConsoleStream::output, "\n");
            }
        });
    }
    for (std::thread& phone : phones) phone.join();
    ASSERT_EQ(recorder.writes.size(), 150u);
    std::vector<int> next(4, 0);
    for (const std::string& write : recorder.writes) {
        const int phone = write[5] - '0';
        ASSERT_EQ(write, "[sim-" + std::to_string(phone) + "] line " +
                             std::to_string(next[static_cast<std::size_t>(phone)]++) + "\n");
    }
}

}  // namespace
}  // namespace norvale
