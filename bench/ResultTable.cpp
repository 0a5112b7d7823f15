// Plain-text rendering of the benchmark's table.
#include "ResultTable.h"

#include <algorithm>
#include <cstdio>

namespace norvale::bench {

bool ResultTable::anyMissed() const {
    return std::any_of(rows_.begin(), rows_.end(),
                       [](const ResultRow& row) { return row.met == false; });
}

std::string ResultTable::render() const {
    const std::vector<std::string> heads{"#", "Measure", "Value", "Target", "Met"};
    std::vector<std::vector<std::string>> cells;
    for (const ResultRow& row : rows_) {
        const std::string met = !row.met ? "" : *row.met ? "yes" : "NO";
        cells.push_back({row.part, row.measure, row.value, row.target, met});
    }
    std::vector<std::size_t> widths;
    for (const std::string& head : heads) widths.push_back(head.size());
    for (const auto& line : cells) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            widths[i] = std::max(widths[i], line[i].size());
        }
    }
    std::string out;
    const auto emit = [&](const std::vector<std::string>& line) {
        std::string text;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (i != 0) text += "  ";
            text += line[i];
            if (i + 1 < line.size()) text += std::string(widths[i] - line[i].size(), ' ');
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out += text + '\n';
    };
    emit(heads);
    std::vector<std::string> rule;
    for (std::size_t width : widths) rule.push_back(std::string(width, '-'));
    emit(rule);
    for (const auto& line : cells) emit(line);
    for (const std::string& text : notes_) out += "  " + text + '\n';
    return out;
}

std::string formatFixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace norvale::bench
