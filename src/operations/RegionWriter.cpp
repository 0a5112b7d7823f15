// The image writer: one image per command, 'F' slices in paced chunks, 'Z' and "Успешно" last.
#include "operations/RegionWriter.h"

#include <algorithm>
#include <span>
#include <utility>

#include "protocol/CommandFormats.h"
#include "protocol/WholeFile.h"

namespace norvale {
namespace {

constexpr std::uint32_t kChunkReplySize = 4;
constexpr std::uint32_t kChunkReplyWaitMs = 20000;
constexpr std::uint32_t kBlockReplySize = 5;

// Runs a whole plan: the slices in order, then 'Z'. Any failure ends it where it happened.
void writeSlices(RegionWriter& writer, const std::vector<ImageSlice>& slices,
                 WriteVerdict verdict) {
    for (const ImageSlice& slice : slices) {
        if (!writer.writeSlice(slice.address, slice.fromOffset, slice.toOffset)) {
            writer.dropImage();
            return;
        }
    }
    writer.finishWrite(verdict);
    writer.dropImage();
}

// The dialog's write commands: the image asked for on the first slice, "Успешно" at the end.
void writeSlices(CommandContext& command, const std::vector<ImageSlice>& slices) {
    RegionWriter writer(command, slices);
    writeSlices(writer, slices, WriteVerdict::said);
}

}  // namespace

RegionWriter::RegionWriter(CommandContext& command, std::vector<ImageSlice> plan)
    : command_(command), plan_(std::move(plan)) {}

RegionWriter::RegionWriter(CommandContext& command, std::vector<ImageSlice> plan,
                           std::shared_ptr<const Bytes> image, std::string name)
    : command_(command),
      plan_(std::move(plan)),
      imageName_(std::move(name)),
      givenImage_(std::move(image)) {}

bool RegionWriter::loadImage() {
    std::shared_ptr<const Bytes> image = givenImage_;
    if (!image) {
        const std::optional<std::string> chosen = command_.platform().chooser.chooseImageFile();
        if (!chosen) return false;  // the operator cancelled: nothing to report
        LoadedFile loaded = loadWholeFile(command_.platform().files, *chosen);
        if (loaded.outcome != LoadOutcome::loaded) {
            command_.fail(loadFailureReason(loaded.outcome), MessageDetail::name(*chosen));
            return false;
        }
        image = std::make_shared<const Bytes>(std::move(loaded.data));
        imageName_ = *chosen;
    }
    // Checked for the whole command before its first 'F', so a short image never leaves a
    // region half written.
    if (image->size() < minimumImageSize(plan_)) {
        command_.fail(MessageId::imageTooShort, MessageDetail::name(imageName_));
        return false;
    }
    image_ = std::move(image);
    command_.log().append(MessageId::writingData);
    progress_.emplace(command_.view(), bytesToSend(plan_, image_->size()));
    return true;
}

bool RegionWriter::writeSlice(std::uint32_t address, std::uint32_t fromOffset,
                              std::uint32_t toOffset) {
    if (command_.failed()) return false;
    if (!image_ && !loadImage()) return false;
    if (fromOffset >= image_->size()) {
        // Only a caller that passes slices past its own minimum gets here; the image is never
        // read past its end and nothing of the slice is sent.
        command_.fail(MessageId::imageTooShort, MessageDetail::name(imageName_));
        return false;
    }
    // From the first 'F' on the flash is written in part until the last block's reply.
    command_.flashWriteBegins();
    if (!command_.send(commandByte(LoaderCommand::flash), 0)) return false;
    if (!command_.send(encodeAddress(address), 0)) return false;
    std::uint64_t offset = fromOffset;
    do {
        if (!sendChunk(address, static_cast<std::uint32_t>(offset))) return false;
        offset += kChunkSize;
    } while (offset < toOffset);
    const std::optional<Bytes> blockReply = command_.receive(kBlockReplySize, 0);
    if (!blockReply) return false;
    if (blockReply->empty()) {
        command_.fail(MessageId::writeNotConfirmed, MessageDetail::flashAddress(address));
        return false;
    }
    return true;
}

bool RegionWriter::sendChunk(std::uint32_t address, std::uint32_t offset) {
    if (offset >= image_->size()) {
        command_.fail(MessageId::imageTooShort, MessageDetail::name(imageName_));
        return false;
    }
    const std::size_t n = std::min<std::size_t>(image_->size() - offset, kChunkSize);
    if (!command_.send(std::span(*image_).subspan(offset, n), 0)) return false;
    // The reply only paces the transfer, but a reply without data means the phone did not take
    // the chunk: going on would report a block as written that may not be.
    const std::optional<Bytes> reply = command_.receive(kChunkReplySize, kChunkReplyWaitMs);
    if (!reply) return false;
    if (reply->empty()) {
        command_.fail(MessageId::writeNotConfirmed, MessageDetail::flashAddress(address));
        return false;
    }
    progress_->advance(n);
    return true;
}

bool RegionWriter::finishWrite(WriteVerdict verdict) {
    if (command_.failed()) return false;
    // Every block's reply has come: the flash holds the whole image, 'Z' or no 'Z'.
    command_.flashWriteEnds();
    if (!command_.send(commandByte(LoaderCommand::end), 0)) return false;
    if (verdict == WriteVerdict::said) command_.log().append(MessageId::success);
    return true;
}

void RegionWriter::dropImage() {
    progress_.reset();
    image_.reset();
}

void writeBoot(CommandContext& command) { writeSlices(command, bootSlices()); }

void writePds(CommandContext& command) { writeSlices(command, pdsSlices()); }

void writePanic(CommandContext& command) { writeSlices(command, panicSlices()); }

void writeImage(CommandContext& command, const std::vector<ImageSlice>& plan,
                std::shared_ptr<const Bytes> image, std::string name, WriteVerdict verdict) {
    RegionWriter writer(command, plan, std::move(image), std::move(name));
    writeSlices(writer, plan, verdict);
}

void writeBlockRange(CommandContext& command) {
    const std::uint32_t end = parseHexAddress(command.view().fieldText(AddressField::end));
    const std::uint32_t start = parseHexAddress(command.view().fieldText(AddressField::start));
    const std::optional<std::vector<ImageSlice>> slices = blockRangeSlices(start, end);
    // Nothing to write (Start above End, End + 1 wrapping to 0) or more than any image holds:
    // refused before the operator is asked for a file, so no "Успешно" for nothing written.
    if (!slices || slices->empty()) {
        command.fail(MessageId::badAddressRange);
        return;
    }
    writeSlices(command, *slices);
}

}  // namespace norvale
