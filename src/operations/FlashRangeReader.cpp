// The range reader: one read request, replies streamed into a new dump file, 'Z' last.
#include "operations/FlashRangeReader.h"

#include <memory>
#include <optional>
#include <string>

#include "core/OperatorTexts.h"
#include "operations/DumpFileName.h"
#include "operations/TransferProgress.h"
#include "protocol/CommandFormats.h"

namespace norvale {
namespace {

constexpr std::uint32_t kReplySize = 4096;
constexpr std::uint32_t kReplyWaitMs = 60000;

std::string_view createFailureReason(FileError error) {
    switch (error) {
        case FileError::alreadyExists: return text::kFileExists;
        case FileError::invalidName: return text::kInvalidFileName;
        case FileError::sharingViolation: return text::kFileInUse;
        case FileError::none:
        case FileError::notFound:
        case FileError::accessDenied:
        case FileError::diskFull:
        case FileError::other: break;
    }
    return text::kCannotCreateFile;
}

enum class NameRule { plainFileName, callersPath };

std::unique_ptr<File> createDump(CommandContext& command, const std::string& name, NameRule rule) {
    if (rule == NameRule::plainFileName && !isPlainFileName(name)) {
        command.fail(text::kInvalidFileName, name);
        return nullptr;
    }
    OpenedFile created = command.platform().files.createNew(name);
    if (!created.file) command.fail(createFailureReason(created.error), name);
    return std::move(created.file);
}

// A dump file: each reply is appended as it comes.
class FileSink final : public RangeSink {
public:
    explicit FileSink(File& dump) : dump_(dump) {}
    bool take(CommandContext& command, std::span<const std::uint8_t> data,
              std::uint64_t offset) override {
        if (dump_.append(data)) return true;
        // A write that failed part way may have kept some of the reply: the file says.
        command.fail(text::kCannotWriteFile, std::to_string(dump_.size().value_or(offset)));
        return false;
    }
    void reportStop(CommandContext& command, std::uint64_t taken) override {
        command.fail(text::kReadStoppedByOperator, std::to_string(taken));
    }

private:
    File& dump_;
};

// Start above End would read one reply of whatever the loader sends; 0 to FFFFFFFF has a count
// that does not fit the request.
bool validRange(CommandContext& command, std::uint32_t start, std::uint32_t end) {
    const std::uint32_t count = end - start + 1;
    if (start <= end && count != 0) return true;
    command.fail(text::kBadAddressRange);
    return false;
}

void readIntoNewFile(CommandContext& command, std::uint32_t start, std::uint32_t end,
                     const std::string& name, NameRule rule) {
    std::string line(text::kReadingBlock.view());
    line += name;
    line += text::kLineEnd;
    command.log().append(line);

    std::unique_ptr<File> dump = createDump(command, name, rule);
    if (!dump) return;
    FileSink sink(*dump);
    const ReadEnd outcome = readReplies(command, start, end - start + 1, sink);
    dump.reset();  // closed, with what arrived, before anything more is said or sent
    finishRead(command, outcome);
}

}  // namespace

void RangeSink::reportStop(CommandContext& command, std::uint64_t /*taken*/) {
    command.fail(text::kStoppedByOperator);
}

// Counting in 64 bits keeps a range that ends at FFFFFFFF from wrapping back below End.
ReadEnd readReplies(CommandContext& command, std::uint32_t start, std::uint32_t count,
                    RangeSink& sink) {
    if (!command.send(buildReadRequest(start, count), 0)) return ReadEnd::transferFailed;
    TransferProgress progress(command.view(), count);
    std::uint64_t taken = 0;
    while (taken < count) {
        // Looked at here, and not only by the next transfer, so the line can say what was kept
        // and the read is still ended with 'Z'.
        if (command.stopRequested()) {
            sink.reportStop(command, taken);
            return ReadEnd::stopped;
        }
        const std::optional<Bytes> reply = command.receive(kReplySize, kReplyWaitMs);
        if (!reply) {
            // A stop that came just after the look above ended the read before its transfer.
            const bool stopped = command.failureReason() == text::kStoppedByOperator.view();
            return stopped ? ReadEnd::stopped : ReadEnd::transferFailed;
        }
        // The phone has stopped sending: waiting on would never move the address on.
        if (reply->empty()) {
            command.fail(text::kReadInterrupted, std::to_string(taken));
            return ReadEnd::stopped;
        }
        if (!sink.take(command, *reply, taken)) return ReadEnd::stopped;
        taken += reply->size();
        progress.advance(reply->size());
    }
    // More than was asked for means the replies are out of step (a reply of the bootstrap that
    // came late, say): what was taken then holds bytes that are not the range's, so it is no
    // success.
    if (taken != count) {
        command.fail(text::kReadTooLong, std::to_string(taken));
        return ReadEnd::stopped;
    }
    return ReadEnd::complete;
}

void finishRead(CommandContext& command, ReadEnd end) {
    if (end == ReadEnd::transferFailed) return;
    // 'Z' ends the loader's read also after a stop, so the loader does not keep unsent data. It
    // goes out before "Успешно": success is only said once every transfer of the command has
    // completed, the last one included.
    if (!command.send(commandByte(LoaderCommand::end), 0)) return;
    if (end == ReadEnd::complete) command.log().append(text::kSuccess);
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
