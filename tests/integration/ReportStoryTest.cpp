// norvale-cli report over a shift's journal written by the station's own writer: the counts, the
// rates, the flagged socket, the step durations and the CSV rows, exact.
#include <gtest/gtest.h>

#include "CliRig.h"
#include "station/JournalRecord.h"

namespace norvale {
namespace {

using namespace norvale::testing;

WallTime at(int hour, int minute) {
    return std::chrono::sys_days{std::chrono::year{2026} / std::chrono::December / 8} +
           std::chrono::hours{hour} + std::chrono::minutes{minute};
}

// A shift at three sockets. 1-1.1: 19 done, each write taking k seconds (k = 1..19), 1 failed;
// 1-1.2: 18 done, 2 failed; 1-1.3: 10 done, 10 failed, 1 stopped. Against the others' pooled
// 3 of 40 (7.5 %), 1-1.3's 50 % is flagged; 1-1.2's 10 % against 11 of 40 is not.
std::string shiftJournal() {
    std::string text;
    int minute = 0;
    const auto phone = [&](const char* place, int exitCode, const char* reason,
                           std::uint64_t writeMs) {
        JournalRecord record;
        record.location = place;
        record.road = "usb";
        // A phone's serial is the phone's to say, a spreadsheet formula included.
        record.serial = place[4] == '3' ? "SN,\"3\"" : place[4] == '2' ? "=HYPERLINK(\"x\")" : "";
        record.started = at(8 + minute / 40, minute % 40);
        record.ended = record.started + std::chrono::seconds(30);
        ++minute;
        if (place[4] == '1') {
            record.commands.push_back({"write pds new.bin",
                                       exitCode == 0 ? "done" : "failed",
                                       writeMs > 0 ? 65536u : 0u,
                                       writeMs,
                                       {}});
        }
        record.exitCode = exitCode;
        record.reason = reason;
        if (place[4] == '2') {
            record.recipe = "line.toml";
            record.recipeSha256 = std::string(64, 'a');
        }
        text += journalLine(record);
    };
    for (std::uint64_t k = 1; k <= 19; ++k) phone("1-1.1", 0, "", k * 1000);
    phone("1-1.1", 3, "no_answer", 0);
    for (int k = 0; k < 18; ++k) phone("1-1.2", 0, "", 0);
    for (int k = 0; k < 2; ++k) phone("1-1.2", 5, "verify_mismatch", 0);
    for (int k = 0; k < 10; ++k) phone("1-1.3", 0, "", 0);
    for (int k = 0; k < 8; ++k) phone("1-1.3", 3, "no_answer", 0);
    for (int k = 0; k < 2; ++k) phone("1-1.3", 3, "write_not_confirmed", 0);
    phone("1-1.3", 130, "stopped_by_operator", 0);
    // The line a power cut tore.
    return text + R"({"location":"1-1.1","road":"us)";
}

TEST(ReportStory, AShiftsJournalIsCountedByPlaceReasonRecipeHourAndStepWithTheWornSocketFlagged) {
    CliRig rig;
    const std::string journal = shiftJournal();
    putFile("shift.jsonl", Bytes(journal.begin(), journal.end()));
    const auto result =
        rig.run({"report", "shift.jsonl", "--csv", "shift.csv", "--html", "shift.html"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, R"(Lines skipped in the journal shift.jsonl (torn or unreadable): 1
Shift report: 2026-12-08 08:00 - 2026-12-08 09:20 UTC

Phones  served  done  failed  stopped  failure rate
            61    47      13        1         21.7%

By place  served  done  failed  stopped  failure rate
  1-1.1       20    19       1        0          5.0%
  1-1.2       20    18       2        0         10.0%
  1-1.3       21    10      10        1         50.0%  FLAGGED

By reason              count
  no_answer                9
  verify_mismatch          2
  write_not_confirmed      2
  stopped_by_operator      1

By recipe                 served  done  failed  stopped  failure rate
  (typed commands)            41    29      11        1         27.5%
  line.toml aaaaaaaaaaaa      20    18       2        0         10.0%

By hour (UTC)       done  failed  stopped
  2026-12-08 08:00    37       3        0
  2026-12-08 09:00    10      10        1

Step durations  count  median, s  95th percentile, s
  write            19       10.0                19.0

Flash bytes moved: 1.2 MB, 6.6 KB/s
)");
    const Bytes csv = fileBytes("shift.csv");
    const std::string rows(csv.begin(), csv.end());
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 62);
    EXPECT_NE(rows.find("\r\n2026-12-08T09:00:00Z,2026-12-08T09:00:30Z,1-1.3,usb,\"SN,\"\"3\"\"\","
                        "done,,0,,,0,0\r\n"),
              std::string::npos)
        << rows;
    EXPECT_NE(rows.find(",1-1.2,usb,\"'=HYPERLINK(\"\"x\"\")\",done,"), std::string::npos) << rows;
    const Bytes html = fileBytes("shift.html");
    const std::string page(html.begin(), html.end());
    EXPECT_NE(page.find("<tr class=\"flagged\"><td>1-1.3  FLAGGED</td>"), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    // Nothing fetched: no source, no link.
    EXPECT_EQ(page.find(" src="), std::string::npos);
    EXPECT_EQ(page.find(" href="), std::string::npos);

    const auto window = rig.run(
        {"report", "shift.jsonl", "--since", "2026-12-08T09", "--until", "2026-12-08T09:10"});
    EXPECT_NE(window.out.find("\nPhones  served  done  failed  stopped  failure rate\n"
                              "            10    10       0        0          0.0%\n"),
              std::string::npos)
        << window.out;
    const auto existing = rig.run({"report", "shift.jsonl", "--html", "shift.html"});
    EXPECT_EQ(existing.code, 4);
    EXPECT_EQ(existing.err, "ERROR - the file already exists: shift.html\n");
}

}  // namespace
}  // namespace norvale
