// The run: files first, then the roads and the phone, then each command in the worker frame.
#include "cli/CliSession.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "cli/BackupSet.h"
#include "cli/DryRunPlan.h"
#include "cli/JsonText.h"
#include "cli/RestoreSource.h"
#include "core/Cp1251.h"
#include "operations/ChangedBlocks.h"
#include "operations/DumpFileName.h"
#include "operations/FlashRangeReader.h"
#include "operations/PartFile.h"
#include "operations/PhoneControl.h"
#include "operations/RegionWriter.h"
#include "operations/WriteVerifier.h"
#include "presence/PhoneInfo.h"
#include "presence/PresenceHandling.h"
#include "protocol/CommandWorker.h"
#include "protocol/LoaderBootstrap.h"
#include "protocol/WholeFile.h"

namespace norvale {
namespace {

constexpr std::uint32_t kWaitPollMs = 1000;

// With --dir the working folder changes; names given on the command line keep meaning what they
// meant where the command was typed.
void anchor(std::string& path) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    if (!absolute.empty()) path = absolute.string();
}

// The flash a plan's blocks cover, whole: what a write may change and its --backup saves.
std::pair<std::uint32_t, std::uint32_t> blocksOf(const std::vector<ImageSlice>& plan) {
    const ImageSlice& last = plan.back();
    return {plan.front().address, last.address + (last.toOffset - last.fromOffset) - 1};
}

bool needsPhone(const CliStep& step) { return !std::holds_alternative<ListStep>(step); }

// Whether the step runs a command on the phone, which the loader images open.
bool runsCommand(const CliStep& step) {
    return !std::holds_alternative<ListStep>(step) && !std::holds_alternative<InfoStep>(step);
}

// A new folder beside `folder`, named as `backup` names one; "-2", "-3"... when that name is
// taken (a backup restored in the second it was made) or chosen already in this run.
std::string folderBeside(const std::string& folder, FileSystem& files,
                         const std::set<std::string>& chosen) {
    std::filesystem::path place(folder);
    if (!place.has_filename()) place = place.parent_path();  // "saved/" is the folder "saved"
    const std::string base = defaultBackupFolderName();
    std::string name;
    for (unsigned n = 1; n < 100; ++n) {
        name = (place.parent_path() / (n == 1 ? base : base + "-" + std::to_string(n))).string();
        if (files.checkNameFree(name) == FileError::none && chosen.count(name) == 0) break;
    }
    return name;  // after 99 taken names, the last: the check of the outputs refuses it
}

std::string roadName(Road road) { return road == Road::usb ? "usb" : "driver"; }

}  // namespace

CliSession::CliSession(CliBindings& bindings, CliView& view, CommandLine line)
    : bindings_(bindings), view_(view), line_(std::move(line)) {
    bindings_.console.watchInterrupt(&state_.stopRequested);
}

CliSession::~CliSession() {
    bindings_.console.watchInterrupt(nullptr);
    // The device is closed before the roads that opened it go.
    state_.device.store(nullptr);
}

ExitCode CliSession::refuse(const Message& reason) {
    view_.append(reason);
    return exitCodeFor(reason.id);
}

ExitCode CliSession::run() {
    if (const ExitCode code = prepareFiles(); code != ExitCode::done) return code;
    // A dry run ends here, its files checked by the very code a real run checks them with.
    if (line_.options.dryRun) return printDryRun();
    if (const ExitCode code = openRoads(); code != ExitCode::done) return code;
    const bool phoneNeeded = std::any_of(line_.steps.begin(), line_.steps.end(), needsPhone);
    if (const ExitCode code = findPhone(phoneNeeded); code != ExitCode::done) return code;

    for (std::size_t i = 0; i < line_.steps.size(); ++i) {
        if (state_.stopRequested.load()) return refuse(MessageId::stoppedByOperator);
        if (const ExitCode code = runStep(line_.steps[i], i == 0); code != ExitCode::done) {
            return code;
        }
    }
    return ExitCode::done;
}

ExitCode CliSession::prepareFiles() {
    if (line_.options.workingFolder) {
        for (CliStep& step : line_.steps) {
            if (auto* read = std::get_if<ReadStep>(&step); read && read->output) {
                anchor(*read->output);
            } else if (auto* write = std::get_if<WriteStep>(&step)) {
                anchor(write->image);
                if (write->backup) anchor(*write->backup);
            } else if (auto* backup = std::get_if<BackupStep>(&step); backup && backup->folder) {
                anchor(*backup->folder);
            } else if (auto* restore = std::get_if<RestoreStep>(&step)) {
                anchor(restore->folder);
            }
        }
        std::error_code failed;
        std::filesystem::current_path(*line_.options.workingFolder, failed);
        if (failed) return refuse(MessageId::cannotOpenFolder, *line_.options.workingFolder);
    }
    if (const ExitCode code = checkLoaders(); code != ExitCode::done) return code;
    if (const ExitCode code = loadImages(); code != ExitCode::done) return code;
    return checkOutputs();
}

// Every command opens with the loader images: a run that would stop at the first for want of
// one is refused before the phone is asked anything.
ExitCode CliSession::checkLoaders() {
    if (std::none_of(line_.steps.begin(), line_.steps.end(), runsCommand)) return ExitCode::done;
    FileSystem& files = bindings_.files;
    for (auto [image, size] :
         {std::pair{kLoaderImage, &loaders_.loader}, std::pair{kJumpImage, &loaders_.jump},
          std::pair{kRamLoaderImage, &loaders_.ramLoader}}) {
        const std::string name = files.workingFolderName(image);
        const LoadedFile loaded = loadWholeFile(files, name);
        if (loaded.outcome != LoadOutcome::loaded) {
            return refuse(loadFailureReason(loaded.outcome), name);
        }
        *size = loaded.data.size();
    }
    return ExitCode::done;
}

ExitCode CliSession::loadImages() {
    FileSystem& files = bindings_.files;
    for (const CliStep& step : line_.steps) {
        if (const auto* write = std::get_if<WriteStep>(&step)) {
            LoadedFile image = loadWholeFile(files, write->image);
            if (image.outcome != LoadOutcome::loaded) {
                return refuse(loadFailureReason(image.outcome), write->image);
            }
            if (image.data.size() < minimumImageSize(write->plan)) {
                return refuse(MessageId::imageTooShort, write->image);
            }
            images_.push_back(std::move(image.data));
        } else if (const auto* restore = std::get_if<RestoreStep>(&step)) {
            RestoreSource source = readRestoreSource(files, restore->folder);
            if (source.refusal) return refuse(*source.refusal);
            for (Bytes& image : source.images) images_.push_back(std::move(image));
        }
    }
    return ExitCode::done;
}

// Every file the run will create: none may exist, and none may be named twice.
ExitCode CliSession::checkOutputs() {
    FileSystem& files = bindings_.files;
    std::vector<std::string> outputs;
    std::set<std::string> folders;
    const auto backupFiles = [&outputs](const std::string& folder) {
        for (const BackupRegion& region : kBackupRegions) {
            outputs.push_back(fileInFolder(folder, region.fileName));
        }
        outputs.push_back(fileInFolder(folder, kChecksumsFileName));
    };
    for (CliStep& step : line_.steps) {
        if (const auto* read = std::get_if<ReadStep>(&step)) {
            const FlashRange& range = read->range;
            const std::string name =
                read->output ? *read->output
                             : dumpFileName(range.startText, range.endText, range.start, range.end);
            // A name the dialog would refuse is refused by the read itself, as there.
            if (read->output || isPlainFileName(name)) outputs.push_back(name);
        } else if (const auto* write = std::get_if<WriteStep>(&step); write && write->backup) {
            outputs.push_back(*write->backup);
        } else if (auto* backup = std::get_if<BackupStep>(&step)) {
            if (!backup->folder) backup->folder = defaultBackupFolderName();
            folders.insert(*backup->folder);
            backupFiles(*backup->folder);
        } else if (auto* restore = std::get_if<RestoreStep>(&step);
                   restore && restore->backupFirst) {
            restore->backupFolder = folderBeside(restore->folder, files, folders);
            folders.insert(*restore->backupFolder);
            backupFiles(*restore->backupFolder);
        }
    }
    std::set<std::string> named;
    for (const std::string& name : outputs) {
        if (!named.insert(name).second) return refuse(MessageId::fileNamedTwice, name);
        // Each file is written under its ".part" name until whole, and a ".part" file left by an
        // earlier run holds what that run saved: neither name may be taken.
        for (const std::string& taken : {name, partFileName(name)}) {
            const FileError error = files.checkNameFree(taken);
            if (error == FileError::alreadyExists) return refuse(MessageId::fileExists, taken);
            if (error == FileError::invalidName) return refuse(MessageId::invalidFileName, taken);
        }
    }
    return ExitCode::done;
}

ExitCode CliSession::printDryRun() {
    PreparedRun prepared{{}, loaders_};
    for (const Bytes& image : images_) prepared.imageSizes.push_back(image.size());
    for (const std::string& line : dryRunPlan(line_, prepared)) {
        view_.printResult(bindings_.console.nativeToUtf8(line));
    }
    return ExitCode::done;
}

ExitCode CliSession::openRoads() {
    roads_ = bindings_.openRoads ? bindings_.openRoads(line_.options.simulated) : nullptr;
    if (!roads_) return refuse(MessageId::phoneNotConnected);
    platform_ = std::make_unique<Platform>(
        Platform{roads_->driver, roads_->interfaces, roads_->removalWatch, roads_->usb,
                 bindings_.files, chooser_, bindings_.clock, bindings_.threads});
    services_ = std::make_unique<Services>(Services{state_, view_, *platform_, view_});
    return ExitCode::done;
}

ExitCode CliSession::findPhone(bool announce) {
    Clock& clock = bindings_.clock;
    const std::uint64_t deadline = clock.nowMs() + line_.options.waitSeconds.value_or(0) * 1000ull;
    for (;;) {
        const std::vector<AttachedPhone> phones =
            listAttachedPhones(*platform_, services_->driverLink);
        const auto chosen = std::find_if(phones.begin(), phones.end(), [&](const auto& phone) {
            return !line_.options.device || phone.id == *line_.options.device;
        });
        if (chosen != phones.end()) {
            phone_ = *chosen;
            break;
        }
        if (state_.stopRequested.load()) return refuse(MessageId::stoppedByOperator);
        const std::uint64_t now = clock.nowMs();
        if (now >= deadline) {
            if (line_.options.device) return refuse(MessageId::noSuchPhone, *line_.options.device);
            return refuse(MessageId::phoneNotConnected);
        }
        clock.sleep(
            static_cast<std::uint32_t>(std::min<std::uint64_t>(kWaitPollMs, deadline - now)));
    }
    // The phone arrives as the dialog's arrival handling would have it: its lines, its device.
    if (announce) handleArrivalOf(*services_, openAttachedPhone(*platform_, *phone_));
    return ExitCode::done;
}

ExitCode CliSession::runStep(const CliStep& step, bool first) {
    if (const auto* listStep = std::get_if<ListStep>(&step)) return list(listStep->json);
    if (const auto* infoStep = std::get_if<InfoStep>(&step)) return info(infoStep->json, first);
    if (const auto* read = std::get_if<ReadStep>(&step)) return this->read(*read);
    if (const auto* writeStep = std::get_if<WriteStep>(&step)) return write(*writeStep);
    if (std::holds_alternative<StartStep>(step)) return runCommand(startPhone);
    if (std::holds_alternative<BlankStep>(step)) return runCommand(setBlankMode);
    if (const auto* backupStep = std::get_if<BackupStep>(&step)) return backup(*backupStep->folder);
    if (const auto* restoreStep = std::get_if<RestoreStep>(&step)) return restore(*restoreStep);
    return ExitCode::done;
}

ExitCode CliSession::runCommand(const CommandBody& body) {
    state_.busy.store(true);
    const CommandOutcome outcome = runCommandWorker(*services_, body);
    if (!outcome.failed) return ExitCode::done;
    const ExitCode code = outcome.reason ? exitCodeFor(*outcome.reason) : ExitCode::transferFailed;
    // A phone that went (unplugged, or restarted by `start`) fails the next transfer: told apart
    // from one that did not answer by asking the bus, without a word to the phone.
    if (code == ExitCode::transferFailed && phone_ && !stillAttached(*platform_, *phone_)) {
        handleRemoval(*services_);
        return ExitCode::noPhone;
    }
    return code;
}

std::string CliSession::phoneJson(const AttachedPhone& phone, const OpenDevice& device,
                                  bool withConfiguration) {
    const PhoneLink& link = services_->link(phone.road);
    const std::string boot = readBootVersion(link, device.handle());
    const std::string mode = readMode(link, device.handle());
    std::string json = "{\"id\": " + jsonString(bindings_.console.nativeToUtf8(phone.id)) +
                       ", \"road\": " + jsonString(roadName(phone.road)) + ", \"location\": " +
                       jsonString(bindings_.console.nativeToUtf8(phone.location)) +
                       ", \"boot_version\": " + jsonString(utf8FromCp1251(boot)) +
                       ", \"mode\": " + jsonString(utf8FromCp1251(mode));
    if (withConfiguration) {
        // From KESTRIN.ini, whose bytes the dialog shows as Windows-1251; null without one.
        const std::optional<std::string> cg1 = readCg1Start(bindings_.files);
        json += ", \"cg1_start\": ";
        json += cg1 ? jsonString(utf8FromCp1251(*cg1)) : "null";
    }
    return json + "}";
}

ExitCode CliSession::list(bool json) {
    const std::vector<AttachedPhone> phones = listAttachedPhones(*platform_, services_->driverLink);
    if (phones.empty()) return refuse(MessageId::phoneNotConnected);
    const std::shared_ptr<const OpenDevice> own = state_.device.load();
    std::string document = "[";
    for (const AttachedPhone& phone : phones) {
        // The session's own phone is asked through the handle it holds: a USB phone can't be
        // claimed twice.
        const bool ours = own && phone_ && phone.location == phone_->location;
        const std::shared_ptr<const OpenDevice> device =
            ours ? own : openAttachedPhone(*platform_, phone);
        if (json) {
            if (document.size() > 1) document += ",";
            document += "\n  " + phoneJson(phone, *device, false);
            continue;
        }
        const PhoneLink& link = services_->link(phone.road);
        const std::string boot = readBootVersion(link, device->handle());
        const std::string mode = readMode(link, device->handle());
        view_.printResult(phone.id + '\t' + roadName(phone.road) + '\t' +
                          bindings_.console.nativeToUtf8(phone.location) + '\t' +
                          utf8FromCp1251(boot) + '\t' + utf8FromCp1251(mode));
    }
    if (json) view_.printResult(document + "\n]");
    return ExitCode::done;
}

ExitCode CliSession::info(bool json, bool first) {
    if (json) {
        const std::shared_ptr<const OpenDevice> device = state_.device.load();
        if (!device || !phone_) return refuse(MessageId::phoneNotConnected);
        view_.printResult("[\n  " + phoneJson(*phone_, *device, true) + "\n]");
        return ExitCode::done;
    }
    // The arrival has just told all of it; later in a run the phone is asked again.
    if (!first) readPhoneInfo(*services_);
    return ExitCode::done;
}

ExitCode CliSession::read(const ReadStep& step) {
    view_.setFieldText(AddressField::start, step.range.startText);
    view_.setFieldText(AddressField::end, step.range.endText);
    if (!step.output) return runCommand(readRangeToFile);
    return runCommand([&](CommandContext& command) {
        readRangeToNamedFile(command, step.range.start, step.range.end, *step.output);
    });
}

ExitCode CliSession::write(const WriteStep& step) {
    const Bytes& image = nextImage();
    if (step.backup) {
        const std::pair<std::uint32_t, std::uint32_t> blocks = blocksOf(step.plan);
        const ExitCode saved = runCommand([&](CommandContext& command) {
            readRangeToNamedFile(command, blocks.first, blocks.second, *step.backup);
        });
        if (saved != ExitCode::done) return saved;
    }
    return writeImage(step.plan, step.image, image, step.verify, step.changedOnly);
}

ExitCode CliSession::writeImage(const std::vector<ImageSlice>& plan, const std::string& path,
                                const Bytes& image, bool verify, bool changedOnly) {
    chooser_.give(path);
    std::vector<ImageSlice> toWrite = plan;
    if (changedOnly) {
        const ExitCode compared = runCommand(
            [&](CommandContext& command) { toWrite = findChangedSlices(command, plan, image); });
        if (compared != ExitCode::done) return compared;
        // The comparison has shown the flash holds the image: nothing to write, and the verdict.
        if (toWrite.empty()) {
            view_.append(MessageId::success);
            return ExitCode::done;
        }
    }
    const WriteVerdict verdict = verify ? WriteVerdict::leftToVerification : WriteVerdict::said;
    const ExitCode written =
        runCommand([&](CommandContext& command) { writeSlices(command, toWrite, verdict); });
    if (written != ExitCode::done || !verify) return written;
    // One read over the blocks written and any left alone between them.
    const std::vector<ImageSlice> checked = slicesSpanning(plan, toWrite);
    return runCommand([&](CommandContext& command) { verifyWrite(command, checked, image); });
}

ExitCode CliSession::backup(const std::string& folder) {
    std::error_code failed;
    std::filesystem::create_directories(folder, failed);
    if (failed) return refuse(MessageId::cannotCreateFolder, folder);

    std::string sums;
    for (const BackupRegion& region : kBackupRegions) {
        const std::string path = fileInFolder(folder, region.fileName);
        const ExitCode code = runCommand([&](CommandContext& command) {
            readRangeToNamedFile(command, region.start, region.end, path);
        });
        if (code != ExitCode::done) return code;
        // From the file as it lies on disk: the sums vouch for what was kept, not what came.
        const LoadedFile dump = loadWholeFile(bindings_.files, path);
        if (dump.outcome != LoadOutcome::loaded) {
            return refuse(loadFailureReason(dump.outcome), path);
        }
        sums += checksumLine(dump.data, region.fileName);
    }

    // Written as the dumps are, under ".part" until whole: a file named SHA256SUMS always holds
    // every line.
    const std::string sumsPath = fileInFolder(folder, kChecksumsFileName);
    const std::string partPath = partFileName(sumsPath);
    FileSystem& files = bindings_.files;
    OpenedFile created = files.createNew(partPath);
    if (!created.file) return refuse(createFailureReason(created.error), partPath);
    const bool written =
        created.file->append({reinterpret_cast<const std::uint8_t*>(sums.data()), sums.size()});
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
    view_.append(Message(MessageId::checksumsWritten, MessageDetail::name(sumsPath)));
    return ExitCode::done;
}

ExitCode CliSession::restore(const RestoreStep& step) {
    std::array<const Bytes*, kBackupRegions.size()> images{};
    for (const Bytes*& image : images) image = &nextImage();
    if (step.backupFolder) {
        view_.append(Message(MessageId::savingPhoneTo, MessageDetail::name(*step.backupFolder)));
        if (const ExitCode saved = backup(*step.backupFolder); saved != ExitCode::done) {
            return saved;
        }
    }
    for (std::size_t i = 0; i < kBackupRegions.size(); ++i) {
        const std::string path = fileInFolder(step.folder, kBackupRegions[i].fileName);
        view_.append(Message(MessageId::restoringFrom, MessageDetail::name(path)));
        // Always compared first and always verified: a restore puts a phone back as it was.
        const ExitCode code = writeImage(kBackupRegions[i].slices(), path, *images[i], true, true);
        if (code != ExitCode::done) return code;
    }
    return ExitCode::done;
}

}  // namespace norvale
