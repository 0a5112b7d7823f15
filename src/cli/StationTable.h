// The station's live table as text: a header, then one line per phone, fitted to the terminal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace norvale {

struct TableTransfer {
    std::uint64_t done = 0;
    std::uint64_t total = 0;  // above 0
    std::uint64_t elapsedMs = 0;
};

struct TableRow {
    enum class State { running, done, failed };
    std::string location;  // UTF-8
    std::string road;      // "usb" or "driver"
    State state = State::running;
    std::size_t step = 0;   // the command it runs or ended on, from 1; 0 before the first
    std::size_t steps = 0;  // the chain's length
    std::string command;    // that command's name: "read", "write"...
    std::optional<TableTransfer> transfer;  // while a transfer runs
    std::string reason;                     // failed: what went wrong, UTF-8
};

struct StationSnapshot {
    std::uint64_t elapsedMs = 0;
    std::size_t running = 0;
    std::size_t done = 0;
    std::size_t failed = 0;
    std::vector<TableRow> rows;
};

// "Station 0:01:05  running 2  done 5  failed 1", then per row
// "sim-1  usb     2/3 write  [####......]  24.0 KiB of 64.0 KiB  12.0 KiB/s  0:03 left",
// "sim-2  usb     3/3 done", "sim-3  driver  1/3 read   failed: no connection with the phone".
// The location column is as wide as the longest location (cut at 24 characters), the command
// column as the widest "i/n name". No line is wider than `columns` less one (a terminal wraps a
// line that fills its last column), counted in characters, not bytes: a longer line is cut.
std::vector<std::string> formatStationTable(const StationSnapshot& snapshot, unsigned columns);

// `text` cut to at most `columns` characters of UTF-8, never inside a character.
std::string fitToColumns(const std::string& text, std::size_t columns);

// How many characters `text`'s UTF-8 shows.
std::size_t characterCount(const std::string& text);

}  // namespace norvale
