// The console face's table and lines over the station engine's model.
#include "cli/StationConsole.h"

#include <string>
#include <string_view>
#include <vector>

#include "station/ConsoleText.h"
#include "station/StationEngine.h"

namespace norvale {

void PlaceRows::take(const StationStatus& changes) {
    revision_ = changes.revision;
    for (const PhoneRow& row : changes.rows) {
        const auto [at, added] = latest_.try_emplace(row.place, row);
        if (added) {
            order_.push_back(row.place);
        } else if (row.arrival >= at->second.arrival) {
            at->second = row;
        }
    }
    // A row gone from the engine's list stays as its place's latest phone until another comes.
}

StationSnapshot PlaceRows::table(const StationStatus& totals) const {
    StationSnapshot snapshot;
    snapshot.elapsedMs = totals.elapsedMs;
    snapshot.running = totals.running;
    snapshot.done = totals.done;
    snapshot.failed = totals.failed;
    for (const std::string& place : order_) {
        const PhoneRow& row = latest_.at(place);
        std::optional<TableTransfer> transfer;
        if (row.transfer) {
            transfer =
                TableTransfer{row.transfer->done, row.transfer->total, row.transfer->elapsedMs};
        }
        const TableRow::State state = row.state == PhoneRow::State::done ? TableRow::State::done
                                      : row.state == PhoneRow::State::failed
                                          ? TableRow::State::failed
                                          : TableRow::State::running;
        snapshot.rows.push_back(TableRow{row.place, row.road, state, row.step, row.steps,
                                         row.command, transfer, row.reason});
    }
    return snapshot;
}

void StationConsole::stationLine(const Message& message) {
    if (!table_) {
        view_.append(message);
        return;
    }
    // Above the table, which may be drawn already for a phone that was there.
    const std::lock_guard lock(linesLock_);
    table_->printAbove(consoleText(message, view_.language(),
                                   [this](std::string_view text) {
                                       return bindings_.console.nativeToUtf8(text);
                                   }) +
                       "\n");
}

void StationConsole::watching(StationEngine& /*engine*/) {
    Console& console = bindings_.console;
    if (!quiet_ && console.isTerminal(ConsoleStream::output) && console.enableCursorMoves()) {
        table_.emplace(console, bindings_.clock);
    }
    console.watchInterrupt(&interrupted_);
}

void StationConsole::tick(StationEngine& engine) {
    if (interrupted_.load()) engine.requestStop();
    draw(engine, false);
}

void StationConsole::ended(StationEngine& engine) {
    draw(engine, true);
    bindings_.console.watchInterrupt(nullptr);
}

void StationConsole::phoneBegins(const PhoneRow& row) {
    // On a terminal the table shows how each phone goes; only error lines go above it.
    auto lines =
        std::make_unique<PhoneLines>(bindings_, linesLock_, row.place, table_ ? &*table_ : nullptr,
                                     view_.language(), quiet_ || table_.has_value());
    std::lock_guard lock(phonesMutex_);
    phones_[row.arrival] = std::move(lines);
}

StationConsole::PhoneLines* StationConsole::linesOf(std::size_t arrival) {
    std::lock_guard lock(phonesMutex_);
    const auto found = phones_.find(arrival);
    return found == phones_.end() ? nullptr : found->second.get();
}

void StationConsole::phoneLine(std::size_t arrival, const Message& message) {
    // Only the phone's own thread writes its lines and ends them: the entry stays while it runs.
    if (PhoneLines* lines = linesOf(arrival)) lines->view.append(message);
}

void StationConsole::phoneEnds(std::size_t arrival) {
    std::unique_ptr<PhoneLines> ending;
    {
        std::lock_guard lock(phonesMutex_);
        const auto found = phones_.find(arrival);
        if (found == phones_.end()) return;
        ending = std::move(found->second);
        phones_.erase(found);
    }
    // What is left of a line goes out now, outside the map's lock.
}

void StationConsole::draw(StationEngine& engine, bool force) {
    if (!table_) return;
    std::lock_guard lock(tableMutex_);
    const std::optional<std::uint64_t> since = places_.revision();
    const StationStatus changes = since ? engine.changesSince(*since) : engine.snapshot();
    places_.take(changes);
    table_->draw(formatStationTable(places_.table(changes), bindings_.console.width()), force);
}

}  // namespace norvale
