// The run: files first, then the roads and the phone, then its chain of commands.
#include "cli/CliSession.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "cli/DryRunPlan.h"
#include "core/Cp1251.h"
#include "core/Utf8Path.h"
#include "operations/PartFile.h"
#include "presence/PhoneInfo.h"
#include "presence/PresenceHandling.h"
#include "protocol/LoaderBootstrap.h"
#include "protocol/WholeFile.h"
#include "station/BackupSet.h"
#include "station/ChainFiles.h"
#include "station/JsonText.h"
#include "station/PhoneChain.h"

namespace norvale {
namespace {

constexpr std::uint32_t kWaitPollMs = 1000;
// How often the stop watch looks for Ctrl+C, and how long a command has to see it by itself
// before the transfer it waits in is cut.
constexpr std::chrono::milliseconds kStopLook{50};
constexpr std::chrono::milliseconds kStopGrace{300};

bool needsPhone(const CliStep& step) { return !std::holds_alternative<ListStep>(step); }

// Whether the step runs a command on the phone, which the loader images open.
bool runsCommand(const CliStep& step) {
    return !std::holds_alternative<ListStep>(step) && !std::holds_alternative<InfoStep>(step);
}

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

    return runChain();
}

// A command sees Ctrl+C between its transfers, but not while it waits in one: a phone that never
// answers would keep the program until the transfer's wait time. So a thread watches for the
// stop while the chain runs and, when the command has not ended within kStopGrace, cuts the
// transfer it is in (again each kStopGrace, for a transfer begun just as the cut came). A stop
// the command sees by itself in time is left to it, so a dump stopped between two replies ends
// its read on the phone as it always has.
ExitCode CliSession::runChain() {
    stopWatch_ = bindings_.threads.startJoinable([this] { watchForStop(); });
    struct EndWatch {
        CliSession& session;
        ~EndWatch() {
            {
                const std::lock_guard<std::mutex> lock(session.watchMutex_);
                session.chainEnded_ = true;
            }
            session.watchWake_.notify_all();
            if (session.stopWatch_) session.stopWatch_->join();
        }
    } endWatch{*this};

    // Without a phone (list alone) the chain needs none: its steps never look for one.
    const AttachedPhone none;
    PhoneChain chain(*services_, line_.steps, images_, phone_ ? *phone_ : none);
    return chain.run([this](const CliStep& step) {
        if (const auto* listStep = std::get_if<ListStep>(&step)) return list(listStep->json);
        return infoJson();
    });
}

void CliSession::watchForStop() {
    std::unique_lock<std::mutex> lock(watchMutex_);
    const auto ended = [this] { return chainEnded_; };
    while (!chainEnded_) {
        if (!state_.stopRequested.load()) {
            watchWake_.wait_for(lock, kStopLook, ended);
        } else if (!watchWake_.wait_for(lock, kStopGrace, ended)) {
            stopSession(state_, *platform_);
        }
    }
}

ExitCode CliSession::prepareFiles() {
    if (line_.options.workingFolder) {
        for (CliStep& step : line_.steps) {
            if (auto* read = std::get_if<ReadStep>(&step); read && read->output) {
                anchorToTypedFolder(*read->output);
            } else if (auto* write = std::get_if<WriteStep>(&step)) {
                anchorToTypedFolder(write->image);
                if (write->backup) anchorToTypedFolder(*write->backup);
            } else if (auto* backup = std::get_if<BackupStep>(&step); backup && backup->folder) {
                anchorToTypedFolder(*backup->folder);
            } else if (auto* restore = std::get_if<RestoreStep>(&step)) {
                anchorToTypedFolder(restore->folder);
            }
        }
        if (!enterUtf8Folder(*line_.options.workingFolder)) {
            return refuse(MessageId::cannotOpenFolder, *line_.options.workingFolder);
        }
    }
    if (const ExitCode code = checkLoaders(); code != ExitCode::done) return code;
    if (const auto refusal = loadChainImages(bindings_.files, line_.steps, images_)) {
        return refuse(*refusal);
    }
    return checkOutputs();
}

// Every command opens with the loader images: a run that would stop at the first for want of
// one is refused before the phone is asked anything.
ExitCode CliSession::checkLoaders() {
    if (std::none_of(line_.steps.begin(), line_.steps.end(), runsCommand)) return ExitCode::done;
    FileSystem& files = bindings_.files;
    for (auto [image, size] :
         {std::pair{kLoaderImage, &loaders_.loader}, std::pair{kJumpImage, &loaders_.jump},
          std::pair{kRamLoaderImage, static_cast<std::uint64_t*>(nullptr)}}) {
        const std::string name = files.workingFolderName(image);
        const LoadedFile loaded = loadWholeFile(files, name);
        if (loaded.outcome != LoadOutcome::loaded) {
            return refuse(loadFailureReason(loaded.outcome), name);
        }
        if (size != nullptr) *size = loaded.data.size();
    }
    return ExitCode::done;
}

// Every file the run will create: none may exist, and none may be named twice.
ExitCode CliSession::checkOutputs() {
    FileSystem& files = bindings_.files;
    std::set<std::string> named;
    for (const std::string& name :
         settleChainOutputs(line_.steps, "", defaultBackupFolderName(), files)) {
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
    for (const SharedImage& image : images_) prepared.imageSizes.push_back(image->size());
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
    if (!announce) return ExitCode::done;
    // The phone arrives as the dialog's arrival handling would have it: its lines, its device.
    // One the system won't let this user open is told as such, before anything is announced.
    std::shared_ptr<const OpenDevice> device = openAttachedPhone(*platform_, *phone_);
    if (const auto refusal = openRefusal(*platform_, *phone_, *device)) {
        return refuse(*refusal, phone_->location);
    }
    handleArrivalOf(*services_, std::move(device));
    return ExitCode::done;
}

std::string CliSession::phoneJson(const AttachedPhone& phone, const OpenDevice& device,
                                  bool withConfiguration, std::optional<MessageId> refusal) {
    const PhoneLink& link = services_->link(phone.road);
    const std::string boot = readBootVersion(link, device.handle());
    const std::string mode = readMode(link, device.handle());
    std::string json = "{\"id\": " + jsonString(bindings_.console.nativeToUtf8(phone.id)) +
                       ", \"road\": " + jsonString(roadName(phone.road)) + ", \"location\": " +
                       jsonString(bindings_.console.nativeToUtf8(phone.location)) +
                       ", \"serial\": " + jsonString(bindings_.console.nativeToUtf8(phone.serial)) +
                       ", \"boot_version\": " + jsonString(utf8FromCp1251(boot)) +
                       ", \"mode\": " + jsonString(utf8FromCp1251(mode)) +
                       ", \"reason\": " + jsonString(refusal ? messageName(*refusal) : "");
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
        const bool ours = own && phone_ && phone.path == phone_->path;
        const std::shared_ptr<const OpenDevice> device =
            ours ? own : openAttachedPhone(*platform_, phone);
        // A phone this user may not open is listed all the same, with why it says nothing.
        const std::optional<MessageId> refusal = openRefusal(*platform_, phone, *device);
        if (json) {
            if (document.size() > 1) document += ",";
            document += "\n  " + phoneJson(phone, *device, false, refusal);
            continue;
        }
        const PhoneLink& link = services_->link(phone.road);
        const std::string boot = readBootVersion(link, device->handle());
        const std::string mode = readMode(link, device->handle());
        view_.printResult(phone.id + '\t' + roadName(phone.road) + '\t' +
                          bindings_.console.nativeToUtf8(phone.location) + '\t' +
                          utf8FromCp1251(boot) + '\t' + utf8FromCp1251(mode) + '\t' +
                          bindings_.console.nativeToUtf8(phone.serial));
        if (refusal) view_.append(Message(*refusal, MessageDetail::name(phone.location)));
    }
    if (json) view_.printResult(document + "\n]");
    return ExitCode::done;
}

ExitCode CliSession::infoJson() {
    const std::shared_ptr<const OpenDevice> device = state_.device.load();
    if (!device || !phone_) return refuse(MessageId::phoneNotConnected);
    view_.printResult("[\n  " + phoneJson(*phone_, *device, true) + "\n]");
    return ExitCode::done;
}

}  // namespace norvale
