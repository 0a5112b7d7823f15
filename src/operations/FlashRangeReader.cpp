// The range reader: one read request, replies streamed into a new dump file, 'Z' last.
#include "operations/FlashRangeReader.h"

#include <array>
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

std::unique_ptr<File> createDump(CommandContext& command, const std::string& name) {
    if (!isPlainFileName(name)) {
        command.fail(text::kInvalidFileName, name);
        return nullptr;
    }
    OpenedFile created = command.platform().files.createNew(name);
    if (!created.file) command.fail(createFailureReason(created.error), name);
    return std::move(created.file);
}

enum class ReadEnd { complete, transferFailed, stopped };

// Streams the replies of the request into `dump` until the range is served, counting the saved
// bytes as the command's progress. Counting in 64 bits keeps a range that ends at FFFFFFFF from
// wrapping back below End. The replies' stream is gone when this returns, whatever the end, so
// no read of it is left in flight when 'Z' goes out.
ReadEnd receiveRange(CommandContext& command, File& dump, std::uint64_t count) {
    TransferProgress progress(command.view(), count);
    const std::unique_ptr<ReplyStream> replies =
        command.openReplies(count, kReplySize, kReplyWaitMs);
    std::array<std::uint8_t, kReplySize> reply;
    std::uint64_t saved = 0;
    while (saved < count) {
        const std::optional<std::size_t> length = command.receive(*replies, reply);
        if (!length) return ReadEnd::transferFailed;
        // The phone has stopped sending: waiting on would never move the address on.
        if (*length == 0) {
            command.fail(text::kReadInterrupted, std::to_string(saved));
            return ReadEnd::stopped;
        }
        if (!dump.append(std::span(reply).first(*length))) {
            // A write that failed part way may have kept some of the reply: the file says.
            command.fail(text::kCannotWriteFile, std::to_string(dump.size().value_or(saved)));
            return ReadEnd::stopped;
        }
        saved += *length;
        progress.advance(*length);
    }
    // More than was asked for means the replies are out of step (a reply of the bootstrap that
    // came late, say): the dump then holds bytes that are not the range's, so it is no success.
    if (saved != count) {
        command.fail(text::kReadTooLong, std::to_string(saved));
        return ReadEnd::stopped;
    }
    return ReadEnd::complete;
}

}  // namespace

void readRangeToFile(CommandContext& command) {
    const std::string endText = command.view().fieldText(AddressField::end);
    const std::uint32_t end = parseHexAddress(endText);
    const std::string startText = command.view().fieldText(AddressField::start);
    const std::uint32_t start = parseHexAddress(startText);
    // Start above End would read one reply of whatever the loader sends; 0 to FFFFFFFF has a
    // count that does not fit the request.
    const std::uint32_t count = end - start + 1;
    if (start > end || count == 0) {
        command.fail(text::kBadAddressRange);
        return;
    }

    const std::string name = dumpFileName(startText, endText, start, end);
    std::string line(text::kReadingBlock.view());
    line += name;
    line += text::kLineEnd;
    command.log().append(line);

    std::unique_ptr<File> dump = createDump(command, name);
    if (!dump) return;
    if (!command.send(buildReadRequest(start, count), 0)) return;
    const ReadEnd outcome = receiveRange(command, *dump, count);
    dump.reset();  // closed, with what arrived, before anything more is said or sent
    if (outcome == ReadEnd::transferFailed) return;
    // 'Z' ends the loader's read also after a stop, so the loader does not keep unsent data. It
    // goes out before "Успешно": success is only said once every transfer of the command has
    // completed, the last one included.
    if (!command.send(commandByte(LoaderCommand::end), 0)) return;
    if (outcome == ReadEnd::complete) command.log().append(text::kSuccess);
}

}  // namespace norvale
