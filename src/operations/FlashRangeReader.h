// Reading a range of the phone's flash into a new dump file, or into another destination.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "protocol/CommandContext.h"

namespace norvale {

// The body of "Прочитать данные": the flash from the Start field's address to the End field's,
// both inclusive, into a new file named by dumpFileName() in the working directory. The bytes go
// to that name plus ".part", which takes the name only once the dump is whole, flushed to the disk
// and closed; nothing is ever overwritten or renamed over.
//
// Outcomes, each with at most one "ОШИБКА - " line:
// - Start above End (or a range of 4 GB): refused; no file, nothing sent.
// - The name or its ".part" name is taken, or the file can't be created (unusable name, other):
//   refused after the "Чтение блока данных <name>" line, naming the file; nothing sent, no
//   existing file touched.
// - A failed transfer: ends the command at once; the ".part" file keeps what arrived.
// - A reply without data, a failed write to the file, or the operator's stop request: the ".part"
//   file is closed and kept, the line says how many bytes it holds and names it, no "Успешно",
//   and 'Z' still ends the loader's read.
// - The whole range saved, but the disk can't say it holds it (the flush failed): the line says
//   how many bytes the ".part" file holds and names it, 'Z' is sent, no "Успешно".
// - The whole range saved and flushed, but the name can't be given (taken meanwhile, or the
//   rename failed): the line names both files, the dump stays under ".part", 'Z' is sent, no
//   "Успешно".
// - Otherwise the file holds the range under its name, then 'Z' is sent, then "Успешно".
// The replies go to the file on a thread of the dump's own, through a fixed set of buffers, so a
// slow disk does not hold up the transfers and memory stays flat whatever the range's size.
void readRangeToFile(CommandContext& command);

// The same read of [start, end] into a new file that the caller names (a path of its own choice,
// such as the command line's -o FILE) instead of the name built from the fields. The same
// outcomes, ".part" included; the name is not held to the plain file names of the working
// directory.
void readRangeToNamedFile(CommandContext& command, std::uint32_t start, std::uint32_t end,
                          const std::string& name);

// The most data one reply of a range read carries: a sink's buffer holds one.
inline constexpr std::uint32_t kRangeReplySize = 4096;

// Where the replies of a range read go, in arrival order. One thread (the reader's) calls it.
class RangeSink {
public:
    virtual ~RangeSink() = default;
    // Room for the next reply, kRangeReplySize bytes; empty once the sink can take nothing more
    // (finish() then says why).
    virtual std::span<std::uint8_t> buffer() = 0;
    // The first `length` bytes of the buffer given last hold the reply that begins `offset`
    // bytes into the range. False ends the read: the sink has failed the command with its reason.
    virtual bool take(CommandContext& command, std::size_t length, std::uint64_t offset) = 0;
    // The bytes the sink is done with for good (on the disk, compared): the command's progress.
    virtual std::uint64_t done() const = 0;
    // Called once the replies have stopped: waits for the sink's own work to end. False when it
    // failed, the command then failed with the sink's reason.
    virtual bool finish(CommandContext& command) = 0;
    // The message `id` about a read that ended early after `bytes` of the range: the count, and
    // where those bytes are kept.
    virtual Message kept(MessageId id, std::uint64_t bytes) const {
        return Message(id, MessageDetail::bytes(bytes));
    }
    // The operator stopped the read after `taken` bytes: fails the command saying so.
    virtual void reportStop(CommandContext& command, std::uint64_t taken);
};

enum class ReadEnd {
    complete,        // the whole range went to the sink
    transferFailed,  // a transfer did not complete: nothing more may be sent
    stopped,         // no data, too much data, the sink refused or failed, or a stop request
};

// Sends the read request for `count` bytes (at least 1) from `start`, streams the replies into
// `sink` until the range is served, and finishes the sink. The command has failed unless the
// result is complete, and the replies' stream is gone, so no read of it is left to meet 'Z'.
ReadEnd readReplies(CommandContext& command, std::uint32_t start, std::uint32_t count,
                    RangeSink& sink);
// Ends the loader's read: 'Z' unless a transfer failed, then "Успешно" when the read was complete.
void finishRead(CommandContext& command, ReadEnd end);
// The same without "Успешно", for a read whose verdict comes later: true when 'Z' went out after a
// complete read.
bool endRead(CommandContext& command, ReadEnd end);

}  // namespace norvale
