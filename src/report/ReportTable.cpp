// The terminal's tables, each column as wide as its widest cell.
#include "report/ReportTable.h"

#include <cstdio>

#include "core/ReportTexts.h"

namespace norvale {
namespace {

std::size_t characters(const std::string& utf8) {
    std::size_t count = 0;
    for (const char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

using Row = std::vector<std::string>;

// The first column to the left, the others to the right, two spaces apart; the heading row first.
void appendTable(std::vector<std::string>& lines, const std::vector<Row>& rows) {
    std::vector<std::size_t> widths;
    for (const Row& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], characters(row[i]));
        }
    }
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string padding(widths[i] - characters(row[i]), ' ');
            if (i == 0) {
                line += row[i] + padding;
            } else {
                line += "  " + padding + row[i];
            }
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        lines.push_back(line);
    }
    lines.emplace_back();
}

std::string count(std::uint64_t value) { return std::to_string(value); }

}  // namespace

std::string percentText(double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", fraction * 100);
    return text;
}

std::string secondsText(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms / 1000);
    return text;
}

std::string bytesText(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

std::string rateText(std::uint64_t bytes, std::uint64_t ms) {
    if (ms == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f KB/s",
                  static_cast<double>(bytes) / static_cast<double>(ms));
    return text;
}

std::string shortDigest(const std::string& sha256) { return sha256.substr(0, 12); }

std::vector<std::string> reportTable(const ShiftSummary& summary, Language language) {
    const auto word = [language](ReportText text) {
        return std::string(reportText(text, language));
    };
    std::vector<std::string> lines;
    if (summary.total.served == 0) {
        lines.push_back(word(ReportText::noPhones));
        return lines;
    }
    lines.push_back(word(ReportText::title) + ": " + minuteText(*summary.first) + " - " +
                    minuteText(*summary.last) + " UTC");
    lines.emplace_back();
    const Row counts{word(ReportText::served), word(ReportText::done), word(ReportText::failed),
                     word(ReportText::stopped), word(ReportText::failureRate)};
    const auto countCells = [](const PhoneCounts& c) {
        return Row{count(c.served), count(c.done), count(c.failed), count(c.stopped),
                   percentText(c.failureRate())};
    };
    {
        Row heading{word(ReportText::phones)};
        heading.insert(heading.end(), counts.begin(), counts.end());
        Row row{""};
        const Row cells = countCells(summary.total);
        row.insert(row.end(), cells.begin(), cells.end());
        appendTable(lines, {heading, row});
    }
    {
        std::vector<Row> rows{{word(ReportText::byPlace)}};
        rows[0].insert(rows[0].end(), counts.begin(), counts.end());
        for (const PlaceRow& place : summary.places) {
            Row row{"  " + place.place};
            const Row cells = countCells(place.counts);
            row.insert(row.end(), cells.begin(), cells.end());
            if (place.flagged) row.push_back(word(ReportText::flagged));
            rows.push_back(row);
        }
        appendTable(lines, rows);
    }
    if (!summary.reasons.empty()) {
        std::vector<Row> rows{{word(ReportText::byReason), word(ReportText::count)}};
        for (const ReasonRow& reason : summary.reasons) {
            rows.push_back({"  " + reason.reason, count(reason.phones)});
        }
        appendTable(lines, rows);
    }
    {
        std::vector<Row> rows{{word(ReportText::byRecipe)}};
        rows[0].insert(rows[0].end(), counts.begin(), counts.end());
        for (const RecipeRow& recipe : summary.recipes) {
            Row row{"  " + (recipe.recipe.empty()
                                ? word(ReportText::typedChain)
                                : recipe.recipe + " " + shortDigest(recipe.sha256))};
            const Row cells = countCells(recipe.counts);
            row.insert(row.end(), cells.begin(), cells.end());
            rows.push_back(row);
        }
        appendTable(lines, rows);
    }
    {
        std::vector<Row> rows{{word(ReportText::byHour), word(ReportText::done),
                               word(ReportText::failed), word(ReportText::stopped)}};
        for (const HourRow& hour : summary.hours) {
            rows.push_back({"  " + hourText(hour.start), count(hour.counts.done),
                            count(hour.counts.failed), count(hour.counts.stopped)});
        }
        appendTable(lines, rows);
    }
    if (!summary.steps.empty()) {
        std::vector<Row> rows{{word(ReportText::stepDurations), word(ReportText::count),
                               word(ReportText::median), word(ReportText::p95)}};
        for (const StepRow& step : summary.steps) {
            rows.push_back({"  " + step.step, count(step.count), secondsText(step.medianMs),
                            secondsText(step.p95Ms)});
        }
        appendTable(lines, rows);
    }
    lines.push_back(word(ReportText::flashMoved) + ": " + bytesText(summary.movingBytes) + ", " +
                    rateText(summary.movingBytes, summary.movingMs));
    return lines;
}

}  // namespace norvale
