// Each command of the chain through the worker frame, with the dialog's bodies.
#include "station/PhoneChain.h"

#include <array>

#include "operations/ChangedBlocks.h"
#include "operations/FlashRangeReader.h"
#include "operations/FolderPath.h"
#include "operations/PartFile.h"
#include "operations/PhoneControl.h"
#include "operations/RegionWriter.h"
#include "operations/WriteVerifier.h"
#include "presence/PhoneInfo.h"
#include "presence/PresenceHandling.h"
#include "protocol/CommandWorker.h"
#include "station/BackupSet.h"
#include "station/FileDigest.h"
#include "station/PhoneFolder.h"

namespace norvale {
PhoneChain::PhoneChain(Services& services, const std::vector<ChainStep>& steps,
                       const std::vector<SharedImage>& images, const AttachedPhone& phone,
                       ChainObserver* observer)
    : services_(services), steps_(steps), images_(images), phone_(phone), observer_(observer) {}

ExitCode PhoneChain::refuse(const Message& reason) {
    services_.log.append(reason);
    return exitCodeFor(reason.id);
}

void PhoneChain::made(const std::string& name, std::optional<std::string> sha256) {
    if (observer_ == nullptr) return;
    // Hashed from the disk, as the file was kept: a sum vouches for what lies there.
    if (!sha256) sha256 = fileDigest(services_.platform.files, name).hex.value_or("");
    observer_->fileMade(name, *sha256);
}

ExitCode PhoneChain::run(const FrontEndStep& frontEnd) {
    // What an earlier chain's failed write left says nothing of this one's.
    services_.state.flashWriteOpen.store(false);
    services_.state.flashWriteSpans.store(false);
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        // A stop between two commands is the next one's: the journal names where it ended.
        if (observer_ != nullptr) observer_->commandBegins(i);
        const ExitCode code = services_.state.stopRequested.load()
                                  ? refuse(MessageId::stoppedByOperator)
                                  : runStep(steps_[i], i == 0, frontEnd);
        if (observer_ != nullptr) observer_->commandEnds(i, code);
        if (code != ExitCode::done) return code;
    }
    return ExitCode::done;
}

ExitCode PhoneChain::runStep(const ChainStep& step, bool first, const FrontEndStep& frontEnd) {
    if (std::holds_alternative<ListStep>(step)) return frontEnd ? frontEnd(step) : ExitCode::done;
    if (const auto* info = std::get_if<InfoStep>(&step)) {
        if (info->json) return frontEnd ? frontEnd(step) : ExitCode::done;
        // The arrival has just told all of it; later in a run the phone is asked again.
        if (!first) readPhoneInfo(services_);
        return ExitCode::done;
    }
    if (const auto* read = std::get_if<ReadStep>(&step)) return this->read(*read);
    if (const auto* writeStep = std::get_if<WriteStep>(&step)) return write(*writeStep);
    if (std::holds_alternative<StartStep>(step)) return runCommand(startPhone);
    if (std::holds_alternative<BlankStep>(step)) return runCommand(setBlankMode);
    if (const auto* backupStep = std::get_if<BackupStep>(&step)) return backup(*backupStep->folder);
    if (const auto* restoreStep = std::get_if<RestoreStep>(&step)) return restore(*restoreStep);
    return ExitCode::done;
}

ExitCode PhoneChain::runCommand(const CommandBody& body) {
    services_.state.busy.store(true);
    const CommandOutcome outcome = runCommandWorker(services_, body);
    if (!outcome.failed) return ExitCode::done;
    const ExitCode code = outcome.reason ? exitCodeFor(*outcome.reason) : ExitCode::transferFailed;
    // A phone that went (unplugged, or restarted by `start`) fails the next transfer: told apart
    // from one that did not answer by asking the bus, without a word to the phone.
    if (code == ExitCode::transferFailed && !stillAttached(services_.platform, phone_)) {
        handleRemoval(services_);
        return ExitCode::noPhone;
    }
    return code;
}

ExitCode PhoneChain::read(const ReadStep& step) {
    services_.view.setFieldText(AddressField::start, step.range.startText);
    services_.view.setFieldText(AddressField::end, step.range.endText);
    if (!step.output) return runCommand(readRangeToFile);
    const ExitCode code = runCommand([&](CommandContext& command) {
        readRangeToNamedFile(command, step.range.start, step.range.end, *step.output);
    });
    if (code == ExitCode::done) made(*step.output);
    return code;
}

ExitCode PhoneChain::write(const WriteStep& step) {
    const SharedImage& image = nextImage();
    if (step.backup) {
        const std::pair<std::uint32_t, std::uint32_t> blocks = flashCoveredBy(step.plan);
        const ExitCode saved = runCommand([&](CommandContext& command) {
            readRangeToNamedFile(command, blocks.first, blocks.second, *step.backup);
        });
        if (saved != ExitCode::done) return saved;
        made(*step.backup);
    }
    return writeImage(step.plan, step.image, image, step.verify, step.changedOnly);
}

ExitCode PhoneChain::writeImage(const std::vector<ImageSlice>& plan, const std::string& path,
                                const SharedImage& image, bool verify, bool changedOnly) {
    std::vector<ImageSlice> toWrite = plan;
    if (changedOnly) {
        const ExitCode compared = runCommand(
            [&](CommandContext& command) { toWrite = findChangedSlices(command, plan, *image); });
        if (compared != ExitCode::done) return compared;
        // The comparison has shown the flash holds the image: nothing to write, and the verdict.
        if (toWrite.empty()) {
            services_.log.append(MessageId::success);
            if (verify && observer_ != nullptr) observer_->verified(true);
            return ExitCode::done;
        }
    }
    const WriteVerdict verdict = verify ? WriteVerdict::leftToVerification : WriteVerdict::said;
    const ExitCode written = runCommand([&](CommandContext& command) {
        norvale::writeImage(command, toWrite, image, path, verdict);
    });
    if (written != ExitCode::done || !verify) return written;
    // One read over the blocks written and any left alone between them.
    const std::vector<ImageSlice> checked = slicesSpanning(plan, toWrite);
    const ExitCode verified =
        runCommand([&](CommandContext& command) { verifyWrite(command, checked, *image); });
    if (observer_ != nullptr &&
        (verified == ExitCode::done || verified == ExitCode::verifyDifference)) {
        observer_->verified(verified == ExitCode::done);
    }
    return verified;
}

ExitCode PhoneChain::backup(const std::string& folder) {
    if (createFolderPath(services_.platform.files, folder) != FileError::none) {
        return refuse(MessageId::cannotCreateFolder, folder);
    }

    std::string sums;
    for (const BackupRegion& region : kBackupRegions) {
        const std::string path = pathInFolder(folder, region.fileName);
        const ExitCode code = runCommand([&](CommandContext& command) {
            readRangeToNamedFile(command, region.start, region.end, path);
        });
        if (code != ExitCode::done) return code;
        // From the file as it lies on disk: the sums vouch for what was kept, not what came.
        // Hashed in pieces, so a station's sessions hold no dump whole at once.
        const FileDigest digest = fileDigest(services_.platform.files, path);
        made(path, digest.hex.value_or(""));
        if (!digest.hex) return refuse(digest.failure, path);
        sums += checksumLine(*digest.hex, region.fileName);
    }

    // Written as the dumps are, under ".part" until whole: a file named SHA256SUMS always holds
    // every line.
    const std::string sumsPath = pathInFolder(folder, kChecksumsFileName);
    const std::string partPath = partFileName(sumsPath);
    FileSystem& files = services_.platform.files;
    OpenedFile created = files.createNew(partPath);
    if (!created.file) return refuse(createFailureReason(created.error), partPath);
    // On the disk itself before it is named, as a dump is.
    const bool written =
        created.file->append({reinterpret_cast<const std::uint8_t*>(sums.data()), sums.size()}) &&
        created.file->flush();
    const std::uint64_t size = created.file->size().value_or(0);
    created.file.reset();  // closed before it is named
    if (!written) {
        return refuse(Message(MessageId::cannotWriteFile, MessageDetail::bytes(size),
                              MessageDetail::name(partPath)));
    }
    if (const FileError error = files.renameNoReplace(partPath, sumsPath);
        error != FileError::none) {
        return refuse(renameFailure(error, partPath, sumsPath));
    }
    made(sumsPath);
    services_.log.append(Message(MessageId::checksumsWritten, MessageDetail::name(sumsPath)));
    return ExitCode::done;
}

ExitCode PhoneChain::restore(const RestoreStep& step) {
    std::array<const SharedImage*, kBackupRegions.size()> images{};
    for (const SharedImage*& image : images) image = &nextImage();
    if (step.backupFolder) {
        services_.log.append(
            Message(MessageId::savingPhoneTo, MessageDetail::name(*step.backupFolder)));
        if (const ExitCode saved = backup(*step.backupFolder); saved != ExitCode::done) {
            return saved;
        }
    }
    // The phone is restored in part from the first region's first 'F' until the last region's
    // last reply: a stop in between, while comparing or verifying too, leaves it needing the
    // restore again.
    SessionState& state = services_.state;
    ExitCode code = ExitCode::done;
    for (std::size_t i = 0; i < kBackupRegions.size() && code == ExitCode::done; ++i) {
        if (!step.pds && kBackupRegions[i].slices == pdsSlices) continue;
        state.flashWriteSpans.store(i + 1 < kBackupRegions.size());
        const std::string path = pathInFolder(step.folder, kBackupRegions[i].fileName);
        services_.log.append(Message(MessageId::restoringFrom, MessageDetail::name(path)));
        // Always compared first and always verified: a restore puts a phone back as it was.
        code = writeImage(kBackupRegions[i].slices(), path, *images[i], true, true);
    }
    state.flashWriteSpans.store(false);
    state.flashWriteOpen.store(false);
    return code;
}

}  // namespace norvale
