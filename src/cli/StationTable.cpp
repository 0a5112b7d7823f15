// Columns, cuts and the progress figures of a row.
#include "cli/StationTable.h"

#include <algorithm>
#include <cstdio>

#include "cli/ProgressLine.h"

namespace norvale {
namespace {

constexpr std::size_t kWidestLocation = 24;
constexpr std::size_t kRoadColumn = 6;

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::string padded(const std::string& text, std::size_t width) {
    std::string cell = fitToColumns(text, width);
    cell.append(width - characterCount(cell), ' ');
    return cell;
}

std::string clockText(std::uint64_t ms) {
    const std::uint64_t seconds = ms / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u:%02u", static_cast<unsigned>(seconds / 3600),
                  static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
    return text;
}

std::string stepText(const TableRow& row) {
    if (row.step == 0) return "-/" + std::to_string(row.steps);
    return std::to_string(row.step) + "/" + std::to_string(row.steps) + " " + row.command;
}

}  // namespace

std::size_t characterCount(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !continuation(c); }));
}

std::string fitToColumns(const std::string& text, std::size_t columns) {
    std::size_t shown = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (continuation(text[i])) continue;
        if (shown == columns) return text.substr(0, i);
        ++shown;
    }
    return text;
}

std::vector<std::string> formatStationTable(const StationSnapshot& snapshot, unsigned columns) {
    const std::size_t usable = columns > 1 ? columns - 1 : 0;
    std::vector<std::string> lines;
    lines.push_back(fitToColumns("Station " + clockText(snapshot.elapsedMs) + "  running " +
                                     std::to_string(snapshot.running) + "  done " +
                                     std::to_string(snapshot.done) + "  failed " +
                                     std::to_string(snapshot.failed),
                                 usable));
    std::size_t locationWidth = 0;
    std::size_t stepWidth = 0;
    for (const TableRow& row : snapshot.rows) {
        locationWidth = std::max(locationWidth, characterCount(row.location));
        stepWidth = std::max(stepWidth, characterCount(stepText(row)));
    }
    locationWidth = std::min(locationWidth, kWidestLocation);
    for (const TableRow& row : snapshot.rows) {
        std::string line = padded(row.location, locationWidth) + "  " +
                           padded(row.road, kRoadColumn) + "  " + padded(stepText(row), stepWidth);
        if (row.state == TableRow::State::done) {
            line += "  done";
        } else if (row.state == TableRow::State::failed) {
            line += "  failed: " + row.reason;
        } else if (row.transfer && row.transfer->total > 0) {
            const std::size_t before = characterCount(line) + 2;
            if (usable > before) {
                // The progress line's own layout in what the columns before it leave.
                line += "  " + formatProgress(std::min(row.transfer->done, row.transfer->total),
                                              row.transfer->total, row.transfer->elapsedMs,
                                              static_cast<unsigned>(usable - before + 1));
            }
        }
        line = fitToColumns(line, usable);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace norvale
