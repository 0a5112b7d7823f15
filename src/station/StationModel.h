// What a station is doing, phone by phone, as a copy any face can draw at its own pace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Message.h"

namespace norvale {

// A transfer in progress: the bytes it moved of its total, and how long it has run.
struct PhoneTransfer {
    std::uint64_t done = 0;
    std::uint64_t total = 0;  // above 0
    std::uint64_t elapsedMs = 0;

    // The rate and the time left need some time gone by and some bytes moved; before that a
    // guess would swing wildly, so there is none.
    std::optional<std::uint64_t> bytesPerSecond() const;
    std::optional<std::uint64_t> secondsLeft() const;

    friend bool operator==(const PhoneTransfer&, const PhoneTransfer&) = default;
};

// One phone run: a phone from its arrival to the end of its chain. A phone that leaves and comes
// back is a new run with a new arrival number; a finished run keeps its row.
struct PhoneRow {
    enum class State { running, done, failed };

    std::size_t arrival = 0;  // from 1, in the order the phones were given a session: the key
    std::string place;        // where it is attached (the USB location or the interface), UTF-8
    std::string road;         // "usb" or "driver"
    std::string bootVersion;  // "" until the phone answered
    std::string mode;
    State state = State::running;
    std::size_t step = 0;   // the command it runs or ended on, from 1; 0 before the first
    std::size_t steps = 0;  // the chain's length
    std::string command;    // that command's name: "read", "write"...
    std::optional<PhoneTransfer> transfer;  // while a transfer runs
    // A failed run: its error message's identifier, and the message as the station's language
    // tells it, without the "ERROR - " before it.
    std::optional<MessageId> reasonId;
    std::string reason;
    std::size_t logLines = 0;  // how many messages its log holds (StationEngine::logOf)
    // Once it ended: the file in its folder its log lines went to, as the system names files
    // (they leave memory then); empty while it runs, or when it had no folder or the file could
    // not be written (its lines then stay with its row).
    std::string logFile;

    friend bool operator==(const PhoneRow&, const PhoneRow&) = default;
};

// A run Stop ended (between transfers or in a read): counted as failed, and told as stopped.
bool stoppedByOperator(const PhoneRow& row);

// The whole station at one moment, or what changed of it since an earlier copy.
struct StationStatus {
    std::uint64_t elapsedMs = 0;  // since the station began watching
    // Every phone run so far, whether or not its row is still listed.
    std::size_t running = 0;
    std::size_t done = 0;
    std::size_t failed = 0;
    std::size_t stopped = 0;  // of `failed`, those the operator's stop ended
    // Whether run() has returned: nothing will change any more.
    bool ended = false;
    // Pass it to StationEngine::changesSince() for what changes after this copy.
    std::uint64_t revision = 0;
    // `rows` is the whole list: the phones running and the latest finished ones (older finished
    // rows leave the list; every phone stays in the journal), in arrival order. Otherwise `rows`
    // holds the running phones and the rows that changed since the revision asked about, and
    // `gone` the arrivals that left the list since then.
    bool whole = true;
    std::vector<PhoneRow> rows;
    std::vector<std::size_t> gone;
    // The station's own messages, not any phone's: a refusal before it watched, the first
    // journal line it could not write.
    std::vector<Message> stationLines;
    // The first journal line that could not be written, and how many could not.
    std::optional<Message> journalFailure;
    std::size_t journalFailures = 0;
};

}  // namespace norvale
