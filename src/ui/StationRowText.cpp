// The phone list's cells and the status line.
#include "ui/StationRowText.h"

#include <algorithm>
#include <cstdio>

#include "ui/StationTexts.h"

namespace norvale {
namespace {

constexpr unsigned kWhole = 1000;

std::string figure(double value, const char* unit) {
    char text[32];
    std::snprintf(text, sizeof text, value < 10 ? "%.2f %s" : "%.1f %s", value, unit);
    return text;
}

}  // namespace

std::string byteCountText(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    if (bytes < 1024 * 1024) return figure(static_cast<double>(bytes) / 1024, "KiB");
    return figure(static_cast<double>(bytes) / (1024 * 1024), "MiB");
}

std::string durationText(std::uint64_t ms) {
    const std::uint64_t seconds = ms / 1000;
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%u:%02u:%02u", static_cast<unsigned>(seconds / 3600),
                      static_cast<unsigned>(seconds / 60 % 60),
                      static_cast<unsigned>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(seconds / 60),
                      static_cast<unsigned>(seconds % 60));
    }
    return text;
}

std::array<std::string, kStationColumns> stationColumnHeaders(Language language) {
    const auto t = [language](StationText id) { return std::string(stationText(id, language)); };
    return {
        t(StationText::columnPlace), t(StationText::columnRoad),     t(StationText::columnBoot),
        t(StationText::columnStep),  t(StationText::columnProgress), t(StationText::columnBytes),
        t(StationText::columnRate),  t(StationText::columnLeft),     t(StationText::columnResult)};
}

std::size_t failedPhones(const StationStatus& snapshot) {
    // The engine counts them: the list holds only the latest finished rows.
    return snapshot.failed - std::min(snapshot.stopped, snapshot.failed);
}

std::string stationStatusLine(const StationStatus& snapshot, Language language) {
    const auto t = [language](StationText id) { return std::string(stationText(id, language)); };
    // The phones Stop ended are counted as what their rows say they are.
    const std::size_t failed = failedPhones(snapshot);
    std::string line = t(StationText::elapsed) + " " + durationText(snapshot.elapsedMs) + "   " +
                       t(StationText::running) + " " + std::to_string(snapshot.running) + "   " +
                       t(StationText::done) + " " + std::to_string(snapshot.done) + "   " +
                       t(StationText::failed) + " " + std::to_string(failed);
    if (snapshot.failed > failed) {
        line += "   " + t(StationText::stopped) + " " + std::to_string(snapshot.failed - failed);
    }
    return line;
}

StationRowCells stationRowCells(const PhoneRow& row, Language language) {
    const auto t = [language](StationText id) { return std::string(stationText(id, language)); };
    StationRowCells cells;
    auto cell = [&cells](StationColumn column) -> std::string& {
        return cells.cells[static_cast<std::size_t>(column)];
    };
    cell(StationColumn::place) = row.place;
    cell(StationColumn::road) = row.road;
    cell(StationColumn::boot) = row.bootVersion;
    cell(StationColumn::step) = row.step == 0 ? "-/" + std::to_string(row.steps)
                                              : std::to_string(row.step) + "/" +
                                                    std::to_string(row.steps) + " " + row.command;

    std::uint64_t share = 0;
    if (row.transfer && row.transfer->total > 0) {
        const std::uint64_t done = std::min(row.transfer->done, row.transfer->total);
        share = done * kWhole / row.transfer->total;
        cell(StationColumn::bytes) = byteCountText(done) + " " + t(StationText::of) + " " +
                                     byteCountText(row.transfer->total);
        if (const auto perSecond = row.transfer->bytesPerSecond()) {
            cell(StationColumn::rate) = byteCountText(*perSecond) + t(StationText::perSecond);
        }
        if (const auto secondsLeft = row.transfer->secondsLeft()) {
            cell(StationColumn::left) = durationText(*secondsLeft * 1000);
        }
    }

    switch (row.state) {
        case PhoneRow::State::running:
            cells.look = StationRowCells::Look::running;
            if (row.step == 0) cell(StationColumn::result) = t(StationText::waiting);
            break;
        case PhoneRow::State::done:
            cells.look = StationRowCells::Look::done;
            share = kWhole;
            cell(StationColumn::result) = t(StationText::done);
            break;
        case PhoneRow::State::failed:
            // Stop ends every phone's chain as an error of its own; the row says only that it
            // stopped (what a cut read kept is in the phone's log and the journal).
            if (stoppedByOperator(row)) {
                cells.look = StationRowCells::Look::stopped;
                cell(StationColumn::result) = t(StationText::stopped);
                break;
            }
            cells.look = StationRowCells::Look::failed;
            cell(StationColumn::result) = t(StationText::failed) + ": " + row.reason;
            break;
    }
    cells.progressPermille = static_cast<unsigned>(std::min<std::uint64_t>(share, kWhole));
    return cells;
}

unsigned chainPermille(const PhoneRow& row) {
    if (row.state == PhoneRow::State::done) return kWhole;
    if (row.steps == 0 || row.step == 0) return 0;
    std::uint64_t share = (row.step - 1) * kWhole / row.steps;
    if (row.transfer && row.transfer->total > 0) {
        share += std::min(row.transfer->done, row.transfer->total) * kWhole / row.transfer->total /
                 row.steps;
    }
    return static_cast<unsigned>(std::min<std::uint64_t>(share, kWhole));
}

bool phoneBeingWritten(const PhoneRow& row) {
    return row.state == PhoneRow::State::running &&
           (row.command == "write" || row.command == "restore" || row.command == "blank");
}

}  // namespace norvale
