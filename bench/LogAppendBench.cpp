// Timing log appends line by line, and what the table shows of it.
#include "LogAppendBench.h"

#include <algorithm>
#include <numeric>

#include "Median.h"
#include "Stopwatch.h"
#include "core/Message.h"
#include "sim/MemoryDialogView.h"
#include "ui/ViewLog.h"

namespace norvale::bench {
namespace {

// A line's cost is the mean over the hundred lines around it: a single append that trims the
// pane or grows the log's storage is part of what lines cost on average, and is spread over
// its neighbours rather than landing on whichever line happened to pay for it.
constexpr std::size_t kWindow = 100;
constexpr std::size_t kEarlyFirst = 50;  // lines 51-150, around the 100th

std::vector<Message> sessionMessages() {
    return {MessageId::phoneConnected,
            MessageId::sendingLoader,
            MessageId::writingData,
            MessageId::success,
            Message(MessageId::readingBlock, MessageDetail::name("CG1.bin")),
            MessageId::noAnswer,
            MessageId::phoneDisconnected};
}

double meanOf(const std::vector<double>& values, std::size_t first, std::size_t count) {
    const auto from = values.begin() + static_cast<std::ptrdiff_t>(first);
    return std::accumulate(from, from + static_cast<std::ptrdiff_t>(count), 0.0) /
           static_cast<double>(count);
}

}  // namespace

std::vector<double> timeLogAppends(OperationLog& log, int lines) {
    const std::vector<Message> messages = sessionMessages();
    std::vector<double> costs(static_cast<std::size_t>(lines));
    auto last = BenchClock::now();
    for (std::size_t i = 0; i < costs.size(); ++i) {
        log.append(messages[i % messages.size()]);
        const auto now = BenchClock::now();
        costs[i] = 1000.0 * millisecondsBetween(last, now);
        last = now;
    }
    return costs;
}

void addLogRows(ResultTable& table, const std::string& viewName,
                const std::vector<std::vector<double>>& runs) {
    const std::size_t lines = runs.front().size();
    const std::size_t earlyFirst = std::min(kEarlyFirst, lines - std::min(lines, kWindow));
    const std::size_t lateFirst = lines - std::min(lines, kWindow);
    const std::size_t window = std::min(kWindow, lines);
    std::vector<double> early;
    std::vector<double> late;
    std::vector<double> totals;
    std::vector<std::vector<double>> tenths(10);
    for (const std::vector<double>& run : runs) {
        early.push_back(meanOf(run, earlyFirst, window));
        late.push_back(meanOf(run, lateFirst, window));
        totals.push_back(std::accumulate(run.begin(), run.end(), 0.0) / 1000.0);
        for (std::size_t t = 0; t < 10; ++t) {
            const std::size_t from = lines * t / 10;
            const std::size_t to = lines * (t + 1) / 10;
            if (to > from) tenths[t].push_back(meanOf(run, from, to - from));
        }
    }
    const double earlyUs = median(early);
    const double lateUs = median(late);
    const double ratio = lateUs / earlyUs;
    const std::string count = std::to_string(lines);
    table.add({"5", viewName + ": " + count + " log lines through ViewLog",
               formatFixed(median(totals), median(totals) < 10 ? 3 : 1) + " ms", "", std::nullopt});
    table.add({"5",
               "  mean cost of lines " + std::to_string(earlyFirst + 1) + "-" +
                   std::to_string(earlyFirst + window),
               formatFixed(earlyUs, 2) + " us", "", std::nullopt});
    table.add({"5", "  mean cost of lines " + std::to_string(lateFirst + 1) + "-" + count,
               formatFixed(lateUs, 2) + " us", "", std::nullopt});
    table.add({"5", "  last lines / lines around the 100th", formatFixed(ratio, 2) + "x", "<= 2x",
               ratio <= 2.0});
    std::string curve = "#5, " + viewName + ": mean us per line by tenth of the run:";
    for (const std::vector<double>& tenth : tenths) {
        if (tenth.empty()) continue;
        curve += ' ';
        curve += formatFixed(median(tenth), 2);
    }
    table.note(curve);
}

void benchLogInMemory(const BenchOptions& options, ResultTable& table) {
    std::vector<std::vector<double>> runs;
    for (int i = 0; i <= options.repeat; ++i) {
        MemoryDialogView view;
        ViewLog log(view);
        std::vector<double> costs = timeLogAppends(log, options.logLines);
        if (i != 0) runs.push_back(std::move(costs));  // the first run warms the allocator
    }
    addLogRows(table, "in-memory view", runs);
}

}  // namespace norvale::bench
