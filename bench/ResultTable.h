// The benchmark's report: one row per figure, with its target and whether it was met.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace norvale::bench {

struct ResultRow {
    std::string part;         // "1" to "5", the part of the benchmark the figure belongs to
    std::string measure;      // what was measured, and how
    std::string value;        // the figure with its unit
    std::string target;       // empty for a figure that has none
    std::optional<bool> met;  // nullopt when there is no target
};

class ResultTable {
public:
    void add(ResultRow row) { rows_.push_back(std::move(row)); }
    void note(std::string text) { notes_.push_back(std::move(text)); }
    // A target was given and missed.
    bool anyMissed() const;
    // Aligned columns; notes follow the table.
    std::string render() const;

private:
    std::vector<ResultRow> rows_;
    std::vector<std::string> notes_;
};

std::string formatFixed(double value, int decimals);

}  // namespace norvale::bench
