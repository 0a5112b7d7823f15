// Reading a range of the phone's flash into a new dump file, or into another destination.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "protocol/CommandContext.h"

namespace norvale {

// The body of "Прочитать данные": the flash from the Start field's address to the End field's,
// both inclusive, into a new file named by dumpFileName() in the working directory.
//
// Outcomes, each with at most one "ОШИБКА - " line:
// - Start above End (or a range of 4 GB): refused; no file, nothing sent.
// - The file can't be created (exists, unusable name, other): refused after the
//   "Чтение блока данных <name>" line; nothing sent, no existing file touched.
// - A failed transfer: ends the command at once; the file keeps what arrived.
// - A reply without data, a failed write to the file, or the operator's stop request: the file
//   is closed and kept, the line says how many bytes it holds, no "Успешно", and 'Z' still ends
//   the loader's read.
// - Otherwise the file holds the range, "Успешно" is logged, then 'Z' is sent.
// Each reply goes to the file before the next read, so memory stays bounded by one reply.
void readRangeToFile(CommandContext& command);

// The same read of [start, end] into a new file that the caller names (a path of its own choice,
// such as the command line's -o FILE) instead of the name built from the fields. The same
// outcomes; the name is not held to the plain file names of the working directory.
void readRangeToNamedFile(CommandContext& command, std::uint32_t start, std::uint32_t end,
                          const std::string& name);

// Where the replies of a range read go, in arrival order.
class RangeSink {
public:
    virtual ~RangeSink() = default;
    // Takes the data of one reply, which begins `offset` bytes into the range. False ends the
    // read: the sink has failed the command with its own reason.
    virtual bool take(CommandContext& command, std::span<const std::uint8_t> data,
                      std::uint64_t offset) = 0;
    // The operator stopped the read after `taken` bytes: fails the command saying so.
    virtual void reportStop(CommandContext& command, std::uint64_t taken);
};

enum class ReadEnd {
    complete,        // the whole range went to the sink
    transferFailed,  // a transfer did not complete: nothing more may be sent
    stopped,         // no data, too much data, the sink refused, or a stop request
};

// Sends the read request for `count` bytes (at least 1) from `start` and hands each reply's data
// to `sink` until the range is served. The command has failed unless the result is complete.
ReadEnd readReplies(CommandContext& command, std::uint32_t start, std::uint32_t count,
                    RangeSink& sink);
// Ends the loader's read: 'Z' unless a transfer failed, then "Успешно" when the read was complete.
void finishRead(CommandContext& command, ReadEnd end);

}  // namespace norvale
