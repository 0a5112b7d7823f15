// The range reader: one read request, replies streamed into a new ".part" file that takes the
// dump's name once whole, 'Z' last.
#include "operations/FlashRangeReader.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/OperatorTexts.h"
#include "operations/DumpFileName.h"
#include "operations/DumpWriter.h"
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

// Where a dump is while it is written: a file under a dump's own name is always a whole dump, so
// one cut short (the phone gone, the disk full, the window closed, the process ended) can't be
// taken for one and written back into a phone.
constexpr std::string_view kPartSuffix = ".part";

// The byte count of a read that stopped, and the file that holds those bytes.
std::string savedIn(std::uint64_t bytes, const std::string& partName) {
    std::string detail = std::to_string(bytes);
    detail += text::kSavedInFile.view();
    detail += partName;
    return detail;
}

// Neither name may be taken: the dump's own name could not be given to it at the end, and a
// ".part" file holds what an earlier read saved. Both are left untouched.
std::unique_ptr<File> createDump(CommandContext& command, const std::string& name,
                                 const std::string& partName) {
    if (!isPlainFileName(name)) {
        command.fail(text::kInvalidFileName, name);
        return nullptr;
    }
    FileSystem& files = command.platform().files;
    if (const FileError taken = files.checkNameFree(name); taken != FileError::none) {
        command.fail(createFailureReason(taken), name);
        return nullptr;
    }
    OpenedFile created = files.createNew(partName);
    if (!created.file) command.fail(createFailureReason(created.error), partName);
    return std::move(created.file);
}

// Gives the closed, whole dump its own name, never over another file: a name taken while the
// dump was written leaves the dump under ".part", and the line says both names.
bool nameDump(CommandContext& command, const std::string& partName, const std::string& name) {
    const FileError error = command.platform().files.renameNoReplace(partName, name);
    if (error == FileError::none) return true;
    std::string detail;
    if (error == FileError::alreadyExists) {
        detail = name;
        detail += text::kDumpKeptIn.view();
        detail += partName;
        command.fail(text::kFileExists, detail);
    } else {
        detail = partName;
        detail += text::kRenamedTo.view();
        detail += name;
        command.fail(text::kCannotRenameFile, detail);
    }
    return false;
}

enum class ReadEnd { complete, transferFailed, stopped };

// The command's progress as the bytes on disk, one step per reply as the writer has it saved:
// behind the transfers by at most the writer's buffers, and a reply the disk could not take is
// never shown as done.
class SavedProgress {
public:
    SavedProgress(DialogView& view, std::uint64_t total) : progress_(view, total) {}
    void queued(std::size_t length) { waiting_.push_back(length); }
    void catchUp(std::uint64_t written) {
        while (!waiting_.empty() && shown_ + waiting_.front() <= written) {
            shown_ += waiting_.front();
            progress_.advance(waiting_.front());
            waiting_.pop_front();
        }
    }

private:
    TransferProgress progress_;
    std::deque<std::size_t> waiting_;  // lengths of the replies queued and not yet shown
    std::uint64_t shown_ = 0;
};

// Streams the replies of the request into `dump` until the range is served, the bytes saved
// shown as the command's progress. Counting in 64 bits keeps a range that ends at FFFFFFFF from
// wrapping back below End.
//
// The replies go to the disk on the writer's thread, so the next read is asked for as soon as a
// reply is in; the reads still in flight are cancelled and the writer has saved or given up on
// every reply before anything is said about the end, which is then told from the file. The
// replies' stream is gone when this returns, so no read of it is left to meet 'Z'.
ReadEnd receiveRange(CommandContext& command, File& dump, std::uint64_t count,
                     const std::string& partName) {
    SavedProgress progress(command.view(), count);
    DumpWriter writer(dump, kReplySize);
    std::unique_ptr<ReplyStream> replies = command.openReplies(count, kReplySize, kReplyWaitMs);
    enum class Stop { none, transferFailed, noData } stop = Stop::none;
    std::uint64_t received = 0;
    while (received < count) {
        const std::span<std::uint8_t> buffer = writer.buffer();
        if (buffer.empty()) break;  // a write failed: said below, once the writer has stopped
        const std::optional<std::size_t> length = command.receive(*replies, buffer);
        if (!length) {
            stop = Stop::transferFailed;
            break;
        }
        // The phone has stopped sending: waiting on would never move the address on.
        if (*length == 0) {
            stop = Stop::noData;
            break;
        }
        writer.queue(*length);
        received += *length;
        progress.queued(*length);
        progress.catchUp(writer.written());
    }
    replies.reset();
    const bool saved = writer.finish();
    progress.catchUp(writer.written());
    if (!saved) {
        // A write that failed part way may have kept some of a reply: the file says. After a
        // failed transfer the command has its line already.
        command.fail(text::kCannotWriteFile,
                     savedIn(dump.size().value_or(writer.written()), partName));
        return stop == Stop::transferFailed ? ReadEnd::transferFailed : ReadEnd::stopped;
    }
    if (stop == Stop::transferFailed) return ReadEnd::transferFailed;
    if (stop == Stop::noData) {
        command.fail(text::kReadInterrupted, savedIn(received, partName));
        return ReadEnd::stopped;
    }
    // More than was asked for means the replies are out of step (a reply of the bootstrap that
    // came late, say): the dump then holds bytes that are not the range's, so it is no success.
    if (received != count) {
        command.fail(text::kReadTooLong, savedIn(received, partName));
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

    const std::string partName = name + std::string(kPartSuffix);
    std::unique_ptr<File> dump = createDump(command, name, partName);
    if (!dump) return;
    if (!command.send(buildReadRequest(start, count), 0)) return;
    const ReadEnd outcome = receiveRange(command, *dump, count, partName);
    dump.reset();  // closed, with what arrived, before anything more is said, sent or renamed
    if (outcome == ReadEnd::transferFailed) return;
    // The dump is whole once its last byte is saved, whatever 'Z' meets, so it gets its name
    // before 'Z': a phone pulled at 'Z' costs the command its "Успешно" but not a whole dump its
    // name. A failed rename is said here, and keeps "Успешно" away below.
    const bool named = outcome == ReadEnd::complete && nameDump(command, partName, name);
    // 'Z' ends the loader's read also after a stop, so the loader does not keep unsent data. It
    // goes out before "Успешно": success is only said once every transfer of the command has
    // completed, the last one included.
    if (!command.send(commandByte(LoaderCommand::end), 0)) return;
    if (named) command.log().append(text::kSuccess);
}

}  // namespace norvale
