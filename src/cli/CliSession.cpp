// The run: files first, then the roads and the phone, then each command in the worker frame.
#include "cli/CliSession.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "cli/BackupSet.h"
#include "core/Cp1251.h"
#include "operations/DumpFileName.h"
#include "operations/FlashRangeReader.h"
#include "operations/PartFile.h"
#include "operations/PhoneControl.h"
#include "operations/RegionWriter.h"
#include "operations/WriteVerifier.h"
#include "presence/PhoneInfo.h"
#include "presence/PresenceHandling.h"
#include "protocol/CommandWorker.h"
#include "protocol/WholeFile.h"

namespace norvale {
namespace {

constexpr std::uint32_t kWaitPollMs = 1000;

std::string inFolder(const std::string& folder, std::string_view name) {
    return (std::filesystem::path(folder) / std::filesystem::path(name)).string();
}

// With --dir the working folder changes; names given on the command line keep meaning what they
// meant where the command was typed.
void anchor(std::string& path) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    if (!absolute.empty()) path = absolute.string();
}

CommandBody writeBody(Region region) {
    switch (region) {
        case Region::boot: return writeBoot;
        case Region::pds: return writePds;
        case Region::panic: return writePanic;
        case Region::blocks: break;
    }
    return writeBlockRange;
}

// The flash a plan's blocks cover, whole: what a write may change and its --backup saves.
std::pair<std::uint32_t, std::uint32_t> blocksOf(const std::vector<ImageSlice>& plan) {
    const ImageSlice& last = plan.back();
    return {plan.front().address, last.address + (last.toOffset - last.fromOffset) - 1};
}

bool needsPhone(const CliStep& step) { return !std::holds_alternative<ListStep>(step); }

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
    if (const ExitCode code = openRoads(); code != ExitCode::done) return code;
    const bool phoneNeeded = std::any_of(line_.steps.begin(), line_.steps.end(), needsPhone);
    if (const ExitCode code = findPhone(phoneNeeded); code != ExitCode::done) return code;

    std::size_t write = 0;
    for (std::size_t i = 0; i < line_.steps.size(); ++i) {
        if (state_.stopRequested.load()) return refuse(MessageId::stoppedByOperator);
        const CliStep& step = line_.steps[i];
        ExitCode code = ExitCode::done;
        if (const auto* writeStep = std::get_if<WriteStep>(&step)) {
            code = this->write(*writeStep, images_[write++]);
        } else {
            code = runStep(step, i == 0);
        }
        if (code != ExitCode::done) return code;
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
            }
        }
        std::error_code failed;
        std::filesystem::current_path(*line_.options.workingFolder, failed);
        if (failed) return refuse(MessageId::cannotOpenFolder, *line_.options.workingFolder);
    }

    FileSystem& files = bindings_.files;
    for (const CliStep& step : line_.steps) {
        const auto* write = std::get_if<WriteStep>(&step);
        if (write == nullptr) continue;
        LoadedFile image = loadWholeFile(files, write->image);
        if (image.outcome != LoadOutcome::loaded) {
            return refuse(loadFailureReason(image.outcome), write->image);
        }
        if (image.data.size() < minimumImageSize(write->plan)) {
            return refuse(MessageId::imageTooShort, write->image);
        }
        images_.push_back(std::move(image.data));
    }

    // Every file the run will create: none may exist, and none may be named twice.
    std::vector<std::string> outputs;
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
            for (const BackupRegion& region : kBackupRegions) {
                outputs.push_back(inFolder(*backup->folder, region.fileName));
            }
            outputs.push_back(inFolder(*backup->folder, kChecksumsFileName));
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
    if (std::holds_alternative<ListStep>(step)) return list();
    if (std::holds_alternative<InfoStep>(step)) {
        // The arrival has just told all of it; later in a run the phone is asked again.
        if (!first) readPhoneInfo(*services_);
        return ExitCode::done;
    }
    if (const auto* read = std::get_if<ReadStep>(&step)) return this->read(*read);
    if (std::holds_alternative<StartStep>(step)) return runCommand(startPhone);
    if (std::holds_alternative<BlankStep>(step)) return runCommand(setBlankMode);
    if (const auto* backupStep = std::get_if<BackupStep>(&step)) return backup(*backupStep);
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

ExitCode CliSession::list() {
    const std::vector<AttachedPhone> phones = listAttachedPhones(*platform_, services_->driverLink);
    if (phones.empty()) return refuse(MessageId::phoneNotConnected);
    const std::shared_ptr<const OpenDevice> own = state_.device.load();
    for (const AttachedPhone& phone : phones) {
        // The session's own phone is asked through the handle it holds: a USB phone can't be
        // claimed twice.
        const bool ours = own && phone_ && phone.location == phone_->location;
        const std::shared_ptr<const OpenDevice> device =
            ours ? own : openAttachedPhone(*platform_, phone);
        const PhoneLink& link = services_->link(phone.road);
        const std::string boot = readBootVersion(link, device->handle());
        const std::string mode = readMode(link, device->handle());
        view_.printResult(phone.id + '\t' + (phone.road == Road::usb ? "usb" : "driver") + '\t' +
                          bindings_.console.nativeToUtf8(phone.location) + '\t' +
                          utf8FromCp1251(boot) + '\t' + utf8FromCp1251(mode));
    }
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

ExitCode CliSession::write(const WriteStep& step, const Bytes& image) {
    if (step.backup) {
        const std::pair<std::uint32_t, std::uint32_t> blocks = blocksOf(step.plan);
        const ExitCode saved = runCommand([&](CommandContext& command) {
            readRangeToNamedFile(command, blocks.first, blocks.second, *step.backup);
        });
        if (saved != ExitCode::done) return saved;
    }
    chooser_.give(step.image);
    view_.setFieldText(AddressField::start, step.range.startText);
    view_.setFieldText(AddressField::end, step.range.endText);
    if (const ExitCode written = runCommand(writeBody(step.region)); written != ExitCode::done) {
        return written;
    }
    if (!step.verify) return ExitCode::done;
    return runCommand([&](CommandContext& command) { verifyWrite(command, step.plan, image); });
}

ExitCode CliSession::backup(const BackupStep& step) {
    const std::string& folder = *step.folder;
    std::error_code failed;
    std::filesystem::create_directories(folder, failed);
    if (failed) return refuse(MessageId::cannotCreateFolder, folder);

    std::string sums;
    for (const BackupRegion& region : kBackupRegions) {
        const std::string path = inFolder(folder, region.fileName);
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
    const std::string sumsPath = inFolder(folder, kChecksumsFileName);
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

}  // namespace norvale
