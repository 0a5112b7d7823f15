// A large journal written with the station's writer, and the report's figures over it.
#include "ReportBench.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "BenchFolder.h"
#include "ChildRun.h"
#include "ProcessFigures.h"
#include "Stopwatch.h"
#include "report/ReportHtml.h"
#include "report/ReportTable.h"
#include "report/ShiftSummary.h"
#include "sim/HostFileSystem.h"
#include "station/JournalRecord.h"

namespace norvale::bench {
namespace {

constexpr unsigned kReportPhones = 100000;
constexpr double kTargetSeconds = 2.0;
constexpr long kTargetKb = 64 * 1024;

void writeJournal(const std::string& name) {
    std::ofstream out(name, std::ios::binary);
    const WallTime start =
        std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} + std::chrono::hours{6};
    const std::string digest(64, 'c');
    for (unsigned n = 0; n < kReportPhones; ++n) {
        JournalRecord record;
        const unsigned place = n % 8;
        record.location = "1-1." + std::to_string(place + 1);
        record.road = "usb";
        record.serial = "SN" + std::to_string(100000 + n);
        record.bootVersion = "0C60";
        record.mode = "FLASH ";
        // A phone every 0.3 s on the line: eight hours and a third.
        record.started = start + std::chrono::milliseconds(300ull * n);
        record.ended = record.started + std::chrono::seconds(40);
        const bool failed = place == 2 ? n % 5 == 0 : n % 97 == 0;
        const std::string folder = record.location + "-20261208-060000";
        record.commands.push_back({"backup",
                                   "done",
                                   262144,
                                   20000 + n % 1000,
                                   {{folder + "/Boot.bin", digest},
                                    {folder + "/PDS.bin", digest},
                                    {folder + "/Panic.bin", digest},
                                    {folder + "/SHA256SUMS", digest}}});
        record.commands.push_back({"write pds ../images/new.bin",
                                   failed ? "failed" : "done",
                                   failed ? 32768u : 131072u,
                                   12000 + n % 700,
                                   {}});
        record.commands.push_back(
            {"start", failed ? "not_run" : "done", 0, std::uint64_t{failed ? 0u : 300u}, {}});
        record.verify = failed ? "" : "passed";
        record.exitCode = failed ? 3 : 0;
        record.reason = failed ? (n % 3 == 0 ? "write_not_confirmed" : "no_answer") : "";
        record.error = failed ? "ERROR - no connection with the phone" : "";
        record.recipe = "line/pds.toml";
        record.recipeSha256 = digest;
        out << journalLine(record);
    }
    out << R"({"location":"1-1.1","road":"usb","ser)";
}

}  // namespace

int runReportChild(const std::string& journal) {
    try {
        HostFileSystem files{FileNameStyle::posix};
        const Stopwatch watch;
        Shift shift;
        readJournal(files, journal, {}, shift);
        const ShiftSummary summary = summarize(shift);
        const std::vector<std::string> table = reportTable(summary, Language::english);
        const std::string page = reportHtml(summary, shift, Language::english);
        const double seconds = watch.elapsedMs() / 1000;
        if (shift.phones.size() != kReportPhones || shift.journals.front().skipped != 1 ||
            table.empty() || page.empty()) {
            std::printf("the report read %zu phones\n", shift.phones.size());
            return 1;
        }
        std::printf("report %.3f %ld %zu\n", seconds, processStatusField("VmHWM"), page.size());
        return 0;
    } catch (const std::exception& error) {
        std::printf("%s\n", error.what());
        return 1;
    }
}

void benchReport(const std::string& self, ResultTable& table) {
    const BenchFolder folder;
    const std::string journal = (folder.path() / "shift.jsonl").string();
    writeJournal(journal);
    const auto bytes = std::filesystem::file_size(journal);
    const ChildRun run = runChild(self, "--child-report '" + journal + "'");
    std::istringstream in(run.output);
    std::string word;
    double seconds = 0;
    long peakKb = 0;
    std::size_t pageBytes = 0;
    if (run.status != 0 || !(in >> word >> seconds >> peakKb >> pageBytes) || word != "report") {
        throw std::runtime_error("the report child failed: " + run.output);
    }
    table.add({"8",
               "Report over a journal of 100,000 phones (" + formatFixed(bytes / 1e6, 1) +
                   " MB): read, counted, table and HTML page",
               formatFixed(seconds, 2) + " s", "< 2 s", seconds < kTargetSeconds});
    table.add({"8", "  peak resident memory of that process (VmHWM)",
               std::to_string(peakKb / 1024) + " MB", "< 64 MB", peakKb < kTargetKb});
    table.note("#8: the journal written by the station's own line writer, a torn last line "
               "included; the report in a child process of its own, so the peak is its own; "
               "the page " +
               std::to_string(pageBytes / 1024) + " KB");
}

}  // namespace norvale::bench
