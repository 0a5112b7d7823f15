// The range reader: one read request, replies streamed into a sink (a new ".part" file that takes
// the dump's name once whole, or a comparison), 'Z' last.
#include "operations/FlashRangeReader.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "operations/DumpFileName.h"
#include "operations/DumpWriter.h"
#include "operations/PartFile.h"
#include "operations/TransferProgress.h"
#include "protocol/CommandFormats.h"

namespace norvale {
namespace {

constexpr std::uint32_t kReplyWaitMs = 60000;

enum class NameRule { plainFileName, callersPath };

// Neither name may be taken: the dump's own name could not be given to it at the end, and a
// ".part" file holds what an earlier read saved. Both are left untouched.
std::unique_ptr<File> createDump(CommandContext& command, const std::string& name,
                                 const std::string& partName, NameRule rule) {
    if (rule == NameRule::plainFileName && !isPlainFileName(name)) {
        command.fail(MessageId::invalidFileName, MessageDetail::name(name));
        return nullptr;
    }
    FileSystem& files = command.platform().files;
    if (const FileError taken = files.checkNameFree(name); taken != FileError::none) {
        command.fail(createFailureReason(taken), MessageDetail::name(name));
        return nullptr;
    }
    OpenedFile created = files.createNew(partName);
    if (!created.file) {
        command.fail(createFailureReason(created.error), MessageDetail::name(partName));
    }
    return std::move(created.file);
}

// Gives the closed, whole dump its own name, never over another file: a name taken while the
// dump was written leaves the dump under ".part", and the line says both names.
bool nameDump(CommandContext& command, const std::string& partName, const std::string& name) {
    const FileError error = command.platform().files.renameNoReplace(partName, name);
    if (error == FileError::none) return true;
    command.fail(renameFailure(error, partName, name));
    return false;
}

// A dump's ".part" file: the replies go to the disk on the writer's thread, so the next read is
// asked for as soon as a reply is in.
class DumpSink final : public RangeSink {
public:
    DumpSink(File& dump, std::string partName)
        : dump_(dump), writer_(dump, kRangeReplySize), partName_(std::move(partName)) {}

    std::span<std::uint8_t> buffer() override { return writer_.buffer(); }
    bool take(CommandContext& /*command*/, std::size_t length, std::uint64_t /*offset*/) override {
        writer_.queue(length);
        return true;
    }
    std::uint64_t done() const override { return writer_.written(); }
    bool finish(CommandContext& command) override {
        if (writer_.finish()) return true;
        // A write that failed part way may have kept some of a reply: the file says. After a
        // failed transfer the command has its line already.
        command.fail(kept(MessageId::cannotWriteFile, dump_.size().value_or(writer_.written())));
        return false;
    }
    Message kept(MessageId id, std::uint64_t bytes) const override {
        return Message(id, MessageDetail::bytes(bytes), MessageDetail::name(partName_));
    }
    void reportStop(CommandContext& command, std::uint64_t taken) override {
        command.fail(kept(MessageId::readStoppedByOperator, taken));
    }

private:
    File& dump_;
    DumpWriter writer_;
    std::string partName_;
};

// Start above End would read one reply of whatever the loader sends; 0 to FFFFFFFF has a count
// that does not fit the request.
bool validRange(CommandContext& command, std::uint32_t start, std::uint32_t end) {
    const std::uint32_t count = end - start + 1;
    if (start <= end && count != 0) return true;
    command.fail(MessageId::badAddressRange);
    return false;
}

void readIntoNewFile(CommandContext& command, std::uint32_t start, std::uint32_t end,
                     const std::string& name, NameRule rule) {
    command.log().append(Message(MessageId::readingBlock, MessageDetail::name(name)));

    const std::string partName = partFileName(name);
    std::unique_ptr<File> dump = createDump(command, name, partName, rule);
    if (!dump) return;
    ReadEnd outcome = ReadEnd::transferFailed;
    {
        DumpSink sink(*dump, partName);
        outcome = readReplies(command, start, end - start + 1, sink);
    }
    // On the disk itself before it is named: a power cut after the rename must not leave the
    // dump's name on a file the disk holds only part of. A disk that can't say so keeps the dump
    // under ".part".
    if (outcome == ReadEnd::complete && !dump->flush()) {
        command.fail(Message(MessageId::cannotWriteFile,
                             MessageDetail::bytes(dump->size().value_or(0)),
                             MessageDetail::name(partName)));
        outcome = ReadEnd::stopped;
    }
    dump.reset();  // closed, with what arrived, before anything more is said, sent or renamed
    if (outcome == ReadEnd::transferFailed) return;
    // The dump is whole once its last byte is saved, whatever 'Z' meets, so it gets its name
    // before 'Z': a phone pulled at 'Z' costs the command its "Успешно" but not a whole dump its
    // name. A failed rename is said here, and keeps "Успешно" away below.
    const bool named = outcome == ReadEnd::complete && nameDump(command, partName, name);
    finishRead(command, named ? ReadEnd::complete : ReadEnd::stopped);
}

// The command's progress as the bytes the sink is done with, one step per reply: behind the
// transfers by at most the writer's buffers, and a reply the disk could not take is never shown
// as done.
class SinkProgress {
public:
    SinkProgress(DialogView& view, std::uint64_t total) : progress_(view, total) {}
    void queued(std::size_t length) { waiting_.push_back(length); }
    void catchUp(std::uint64_t done) {
        while (!waiting_.empty() && shown_ + waiting_.front() <= done) {
            shown_ += waiting_.front();
            progress_.advance(waiting_.front());
            waiting_.pop_front();
        }
    }

private:
    TransferProgress progress_;
    std::deque<std::size_t> waiting_;  // lengths of the replies taken and not yet shown
    std::uint64_t shown_ = 0;
};

enum class Stop { none, transferFailed, noData, refused, operatorStop };

}  // namespace

void RangeSink::reportStop(CommandContext& command, std::uint64_t /*taken*/) {
    command.fail(MessageId::stoppedByOperator);
}

// Counting in 64 bits keeps a range that ends at FFFFFFFF from wrapping back below End.
//
// The reads still in flight are cancelled and the sink has dealt with or given up on every reply
// before anything is said about the end, which is then told from what the sink holds.
ReadEnd readReplies(CommandContext& command, std::uint32_t start, std::uint32_t count,
                    RangeSink& sink) {
    if (!command.send(buildReadRequest(start, count), 0)) return ReadEnd::transferFailed;
    SinkProgress progress(command.view(), count);
    std::unique_ptr<ReplyStream> replies =
        command.openReplies(count, kRangeReplySize, kReplyWaitMs);
    Stop stop = Stop::none;
    std::uint64_t received = 0;
    while (received < count) {
        // Looked at here, and not only by the next transfer, so the line can say what was kept
        // and the read is still ended with 'Z'.
        if (command.stopRequested()) {
            stop = Stop::operatorStop;
            break;
        }
        const std::span<std::uint8_t> buffer = sink.buffer();
        if (buffer.empty()) break;  // the sink failed: it says so below, once finished
        const std::optional<std::size_t> length = command.receive(*replies, buffer);
        if (!length) {
            // A stop that came just after the look above, or that cut the read in flight: the
            // sink tells it below, with what it kept.
            stop = command.failed() ? Stop::transferFailed : Stop::operatorStop;
            break;
        }
        // The phone has stopped sending: waiting on would never move the address on.
        if (*length == 0) {
            stop = Stop::noData;
            break;
        }
        if (!sink.take(command, *length, received)) {
            stop = Stop::refused;
            break;
        }
        received += *length;
        progress.queued(*length);
        progress.catchUp(sink.done());
    }
    replies.reset();
    const bool finished = sink.finish(command);
    progress.catchUp(sink.done());
    if (stop == Stop::transferFailed) return ReadEnd::transferFailed;
    if (!finished || stop == Stop::refused) return ReadEnd::stopped;
    if (stop == Stop::noData) {
        command.fail(sink.kept(MessageId::readInterrupted, received));
        return ReadEnd::stopped;
    }
    if (stop == Stop::operatorStop) {
        sink.reportStop(command, received);
        return ReadEnd::stopped;
    }
    // More than was asked for means the replies are out of step (a reply of the bootstrap that
    // came late, say): what was taken then holds bytes that are not the range's, so it is no
    // success.
    if (received != count) {
        command.fail(sink.kept(MessageId::readTooLong, received));
        return ReadEnd::stopped;
    }
    return ReadEnd::complete;
}

bool endRead(CommandContext& command, ReadEnd end) {
    if (end == ReadEnd::transferFailed) return false;
    // 'Z' ends the loader's read also after a stop, so the loader does not keep unsent data.
    if (!command.send(commandByte(LoaderCommand::end), 0)) return false;
    return end == ReadEnd::complete;
}

void finishRead(CommandContext& command, ReadEnd end) {
    // "Успешно" follows 'Z': success is only said once every transfer of the command has
    // completed, the last one included.
    if (endRead(command, end)) command.log().append(MessageId::success);
}

void readRangeToFile(CommandContext& command) {
    const std::string endText = command.view().fieldText(AddressField::end);
    const std::uint32_t end = parseHexAddress(endText);
    const std::string startText = command.view().fieldText(AddressField::start);
    const std::uint32_t start = parseHexAddress(startText);
    if (!validRange(command, start, end)) return;
    readIntoNewFile(command, start, end, dumpFileName(startText, endText, start, end),
                    NameRule::plainFileName);
}

void readRangeToNamedFile(CommandContext& command, std::uint32_t start, std::uint32_t end,
                          const std::string& name) {
    if (!validRange(command, start, end)) return;
    readIntoNewFile(command, start, end, name, NameRule::callersPath);
}

}  // namespace norvale
