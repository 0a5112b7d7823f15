// The console face's table and lines over the station engine's model.
#include "cli/StationConsole.h"

#include <string>
#include <vector>

#include "station/StationEngine.h"

namespace norvale {

StationSnapshot tableSnapshot(const StationStatus& status) {
    StationSnapshot snapshot;
    snapshot.elapsedMs = status.elapsedMs;
    snapshot.running = status.running;
    snapshot.done = status.done;
    snapshot.failed = status.failed;
    std::vector<std::string> order;
    std::map<std::string, const PhoneRow*> latest;
    for (const PhoneRow& row : status.rows) {
        if (latest.count(row.place) == 0) order.push_back(row.place);
        latest[row.place] = &row;
    }
    for (const std::string& place : order) {
        const PhoneRow& row = *latest[place];
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
    table_->draw(formatStationTable(tableSnapshot(engine.snapshot()), bindings_.console.width()),
                 force);
}

}  // namespace norvale
