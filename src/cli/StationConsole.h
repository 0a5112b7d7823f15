// norvale-cli --station's face: the live table on a terminal, each phone's lines after its place.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliProgram.h"
#include "cli/CliView.h"
#include "cli/LiveTable.h"
#include "cli/PrefixedConsole.h"
#include "cli/StationTable.h"
#include "station/StationFace.h"

namespace norvale {

// The engine's rows as the table shows them: one a place, its latest phone, in the order the
// places first came. Kept from the engine's changes (StationEngine::changesSince), so a drawing
// costs what the places do, not what the phones served so far do.
class PlaceRows {
public:
    // Takes the rows of `changes` (a whole list or the changes since `revision()`).
    void take(const StationStatus& changes);
    // The revision to ask the engine's changes after; none before the first.
    std::optional<std::uint64_t> revision() const { return revision_; }
    StationSnapshot table(const StationStatus& totals) const;

private:
    std::optional<std::uint64_t> revision_;
    std::vector<std::string> order_;
    std::map<std::string, PhoneRow> latest_;
};

// - On a terminal (and not quiet) the table of the phones is drawn below their lines, at most
//   every 100 ms and at once when a phone begins or ends; one row a place, its latest phone, in
//   the order the places first came. Only error lines then go above it.
// - Each phone's lines go out as on one phone's command line, each after "[place] ", whole.
// - The station's own lines go to `view`, as one phone's run says them.
// - Ctrl+C asks the engine to stop, as the next tick sees it.
class StationConsole final : public StationFace {
public:
    StationConsole(CliBindings& bindings, CliView& view, bool quiet)
        : bindings_(bindings), view_(view), quiet_(quiet) {}

    void stationLine(const Message& message) override;
    void watching(StationEngine& engine) override;
    void tick(StationEngine& engine) override;
    void ended(StationEngine& engine) override;
    void rowsChanged(StationEngine& engine) override { draw(engine, true); }
    void phoneBegins(const PhoneRow& row) override;
    void phoneLine(std::size_t arrival, const Message& message) override;
    void phoneEnds(std::size_t arrival) override;

private:
    struct PhoneLines {
        PhoneLines(CliBindings& bindings, std::mutex& lock, const std::string& place,
                   LiveTable* table, Language language, bool quiet)
            : console(bindings.console, lock, place, table),
              view(console, bindings.clock, language, quiet) {}
        PrefixedConsole console;
        CliView view;
    };

    void draw(StationEngine& engine, bool force);
    PhoneLines* linesOf(std::size_t arrival);

    CliBindings& bindings_;
    CliView& view_;
    bool quiet_;
    std::atomic<bool> interrupted_{false};
    std::optional<LiveTable> table_;
    std::mutex tableMutex_;  // one drawing at a time, each from the changes after the last
    PlaceRows places_;
    std::mutex linesLock_;  // one phone's line at a time on the console
    std::mutex phonesMutex_;
    std::map<std::size_t, std::unique_ptr<PhoneLines>> phones_;  // by arrival
};
}  // namespace norvale
