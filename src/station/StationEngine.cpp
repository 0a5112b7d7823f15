// The station's loop on run()'s thread, and each phone's session on a thread of its own.
#include "station/StationEngine.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "operations/FolderPath.h"
#include "operations/PartFile.h"
#include "presence/AttachedPhones.h"
#include "presence/ConnectionMonitor.h"
#include "presence/PresenceHandling.h"
#include "station/ChainFiles.h"
#include "station/PhoneFolder.h"
#include "station/Sha256.h"
#include "station/StationPhone.h"
#include "station/StationPhoneView.h"

namespace norvale {
namespace {

// The loop's pace: a look at the stop request and a tick for the face ten times a second.
constexpr std::uint32_t kTickMs = 100;

// How a phone's arrival went: its folder made, or the reason it goes no further (its line told).
struct Arrival {
    std::optional<std::string> folder;
    ExitCode code = ExitCode::done;
};

// Opens the phone, tells of its arrival and makes its folder. One the system won't let this user
// open, or that another program holds, is told as such and nothing is made for it: it was never
// asked anything.
Arrival arrive(Services& services, const AttachedPhone& attached, FileSystem& files,
               StationPhone& phone, JournalRecord& record) {
    std::shared_ptr<const OpenDevice> device = openAttachedPhone(services.platform, attached);
    if (const auto refusal = openRefusal(services.platform, attached, *device)) {
        services.log.append(Message(*refusal, MessageDetail::name(attached.location)));
        return {std::nullopt, exitCodeFor(*refusal)};
    }
    const PhoneIdentity identity = handleArrivalOf(services, std::move(device));
    record.bootVersion = identity.bootVersion;
    record.mode = identity.mode;
    phone.identify(identity.bootVersion, identity.mode);
    std::optional<std::string> folder =
        createPhoneFolder(files, "", attached.location, record.started);
    if (!folder) {
        const std::string name = phoneFolderName(attached.location, record.started);
        services.log.append(Message(MessageId::cannotCreateFolder, MessageDetail::name(name)));
        return {std::nullopt, exitCodeFor(MessageId::cannotCreateFolder)};
    }
    return {std::move(folder), ExitCode::done};
}

// The lock a phone's place is served under, the same in every program of the computer: named
// from the road's stable key for the place, hashed so any key makes a name every binding takes.
std::string placeLockName(const AttachedPhone& phone) {
    const std::string key = std::string(roadName(phone.road)) + ":" + phone.path;
    const std::string hex =
        sha256Hex({reinterpret_cast<const std::uint8_t*>(key.data()), key.size()});
    return "norvale-place-" + hex.substr(0, 32);
}

void sortByArrival(std::vector<PhoneRow>& rows) {
    std::sort(rows.begin(), rows.end(),
              [](const PhoneRow& a, const PhoneRow& b) { return a.arrival < b.arrival; });
}

}  // namespace

struct StationEngine::Run {
    WatchedPhone watched;
    std::size_t arrival = 0;
    std::string location;  // UTF-8
    std::shared_ptr<SessionState> state = std::make_shared<SessionState>();
    std::unique_ptr<StationPhone> phone;
    std::string logName;  // its log's file once it ended, native; "" for none
    // The session's thread, the scanning thread's to join.
    std::unique_ptr<JoinableThread> thread;
};

// The journal record of one phone, filled in as its chain goes, and its row kept current.
class StationEngine::Observer final : public ChainObserver {
public:
    Observer(StationPhone& phone, JournalRecord& record, const StationPlan& plan,
             const WallClock& wallClock)
        : phone_(phone), record_(record), plan_(plan), wallClock_(wallClock) {
        for (const std::string& command : plan.stepTexts) {
            record_.commands.push_back(JournalCommand{command, "not_run", 0, 0, {}});
        }
    }

    void commandBegins(std::size_t index) override {
        current_ = index;
        began_ = wallClock_();
        phone_.beginCommand(index, stepName(plan_.steps[index]));
    }
    void fileMade(const std::string& name, const std::string& sha256) override {
        record_.commands[current_].files.push_back({name, sha256});
    }
    void verified(bool equal) override {
        if (record_.verify != "mismatch") record_.verify = equal ? "passed" : "mismatch";
    }
    void commandEnds(std::size_t index, ExitCode code) override {
        JournalCommand& command = record_.commands[index];
        command.result = code == ExitCode::done          ? "done"
                         : code == ExitCode::interrupted ? "stopped"
                                                         : "failed";
        command.bytes = phone_.takeCommandBytes();
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(wallClock_() - began_);
        command.ms = static_cast<std::uint64_t>(std::max<std::int64_t>(0, took.count()));
    }

private:
    StationPhone& phone_;
    JournalRecord& record_;
    const StationPlan& plan_;
    const WallClock& wallClock_;
    WallTime began_{};
    std::size_t current_ = 0;
};

StationEngine::StationEngine(StationBindings& bindings, StationPlan plan, StationFace* face)
    : bindings_(bindings),
      plan_(std::move(plan)),
      face_(face),
      loopClock_(bindings.loopClock != nullptr ? *bindings.loopClock : bindings.clock) {
    if (plan_.stepTexts.size() != plan_.steps.size()) typeStepTexts(plan_);
    for (ChainStep& step : plan_.steps) {
        if (auto* restore = std::get_if<RestoreStep>(&step)) restore->pds = plan_.clonePds;
    }
}

StationEngine::~StationEngine() {
    // Every session has ended in run(); the devices go before the roads that opened them.
    joinSessions(true);
    for (const auto& [arrival, run] : live_) run->state->device.store(nullptr);
}

void StationEngine::requestStop() { stopRequested_.store(true); }

std::uint64_t StationEngine::nowMs() const { return bindings_.clock.nowMs(); }

void StationEngine::stationLine(const Message& message) {
    {
        std::lock_guard lock(mutex_);
        // Kept once: the list stays as short over a shift as over a run.
        if (std::find(stationLines_.begin(), stationLines_.end(), message) == stationLines_.end()) {
            stationLines_.push_back(message);
        }
    }
    if (face_ != nullptr) face_->stationLine(message);
}

void StationEngine::journalFailed(const Message& message) {
    {
        std::lock_guard lock(mutex_);
        if (!journalFailure_) journalFailure_ = message;
        ++journalFailures_;
    }
    // Told as it happens, every time: a face that prints lines prints each.
    stationLine(message);
}

ExitCode StationEngine::refuse(const Message& reason) {
    stationLine(reason);
    return exitCodeFor(reason.id);
}

ExitCode StationEngine::refuse(MessageId reason, std::string_view name) {
    return refuse(name.empty() ? Message(reason) : Message(reason, MessageDetail::name(name)));
}

ExitCode StationEngine::prepare() {
    if (plan_.workingFolder) {
        for (ChainStep& step : plan_.steps) {
            if (auto* write = std::get_if<WriteStep>(&step)) anchorToTypedFolder(write->image);
            if (auto* restore = std::get_if<RestoreStep>(&step)) {
                anchorToTypedFolder(restore->folder);
            }
        }
        if (plan_.journal) anchorToTypedFolder(*plan_.journal);
        if (!bindings_.enterFolder || !bindings_.enterFolder(*plan_.workingFolder)) {
            return refuse(MessageId::cannotOpenFolder, *plan_.workingFolder);
        }
    }
    if (const auto refusal = loadChainImages(bindings_.files, plan_.steps, images_)) {
        return refuse(*refusal);
    }
    // Every phone's folder is new and empty; only a name given twice can clash.
    std::vector<ChainStep> steps = plan_.steps;
    std::set<std::string> named;
    for (const std::string& name : settleChainOutputs(steps, "phone", "phone", bindings_.files)) {
        if (!named.insert(name).second) return refuse(MessageId::fileNamedTwice, name);
    }
    if (plan_.journal) {
        journal_.emplace(bindings_.files, *plan_.journal);
        if (const FileError error = journal_->open(); error != FileError::none) {
            return refuse(createFailureReason(error), *plan_.journal);
        }
    }
    roads_ = bindings_.openRoads ? bindings_.openRoads(plan_.simulated) : nullptr;
    if (!roads_) return refuse(MessageId::phoneNotConnected);
    platform_ = std::make_unique<Platform>(
        Platform{roads_->driver, roads_->interfaces, roads_->removalWatch, roads_->usb,
                 bindings_.files, chooser_, bindings_.clock, bindings_.threads});
    return ExitCode::done;
}

ExitCode StationEngine::run() {
    if (const ExitCode code = prepare(); code != ExitCode::done) {
        std::lock_guard lock(mutex_);
        ended_ = true;
        return code;
    }
    {
        std::lock_guard lock(mutex_);
        startedMs_ = nowMs();
    }
    if (face_ != nullptr) face_->watching(*this);
    bool stopping = false;
    {
        // The first scan's phones, wanted or not, for the note on the places awaited.
        std::optional<std::vector<AttachedPhone>> firstSeen;
        PhoneWatcher watcher(
            *platform_,
            [this, &firstSeen](const WatchedPhone& watched) {
                if (firstSeen) firstSeen->push_back(watched.phone);
                return arrived(watched);
            },
            [this](const WatchedPhone& watched) {
                // The place is another program's to take once the phone has left it, unless
                // a phone came there again first.
                std::lock_guard lock(mutex_);
                const auto held = placeLocks_.find(placeLockName(watched.phone));
                if (held != placeLocks_.end() && held->second.first == watched.arrival) {
                    placeLocks_.erase(held);
                }
            },
            // Said once until the bus can be read again; the phones it serves are kept.
            [this] { stationLine(Message(MessageId::usbBusUnread)); });
        std::optional<std::uint64_t> nextScan;
        for (;;) {
            // Again at every look until the sessions have ended: a transfer a session began in
            // the instant of the stop, or the closing 'Z' of a read it stopped, is cut as well.
            if (stopRequested_.load()) {
                stopping = true;
                stopSessions();
            }
            {
                std::lock_guard lock(mutex_);
                const bool allEnded = running_ == 0;
                if (allEnded && (stopping || (plan_.count && done_ + failed_ >= *plan_.count))) {
                    break;
                }
            }
            joinSessions(false);
            const std::uint64_t now = nowMs();
            if (!stopping && (!nextScan || now >= *nextScan)) {
                if (!nextScan) firstSeen.emplace();
                watcher.scan();
                if (!nextScan) tellAwaitedPorts(*firstSeen);
                firstSeen.reset();
                // Once a second, as the dialog's monitor scans; removals come from each phone's
                // own watch.
                nextScan = now + kScanIntervalMs;
            }
            if (face_ != nullptr) face_->tick(*this);
            loopClock_.sleep(kTickMs);
        }
        // The watcher goes here: its removal waits stopped, its threads joined.
    }
    {
        // The station serves its places no more.
        std::lock_guard lock(mutex_);
        placeLocks_.clear();
    }
    joinSessions(true);
    ExitCode code = ExitCode::done;
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        if (journalFailures_ > 0) {
            code = ExitCode::journalIncomplete;
        } else if (stopping) {
            code = ExitCode::interrupted;
        } else if (failed_ > 0) {
            code = ExitCode::somePhoneFailed;
        }
    }
    if (face_ != nullptr) face_->ended(*this);
    return code;
}

bool StationEngine::atPort(const std::string& port, const AttachedPhone& phone) const {
    return port == phone.id || port == phone.location || port == phone.path ||
           port == bindings_.nativeToUtf8(phone.location);
}

bool StationEngine::wanted(const AttachedPhone& phone) const {
    if (plan_.ports.empty()) return true;
    return std::any_of(plan_.ports.begin(), plan_.ports.end(),
                       [&](const std::string& port) { return atPort(port, phone); });
}

std::shared_ptr<SessionState> StationEngine::arrived(const WatchedPhone& watched) {
    if (stopRequested_.load() || !wanted(watched.phone)) return nullptr;
    auto run = std::make_shared<Run>();
    run->watched = watched;
    run->location = bindings_.nativeToUtf8(watched.phone.location);
    const std::string placeName = placeLockName(watched.phone);
    bool ours = false;
    {
        // A phone back at a place this station holds (a restarted phone seen before its
        // removal was): the place is still this station's.
        std::lock_guard lock(mutex_);
        const auto held = placeLocks_.find(placeName);
        if (held != placeLocks_.end()) {
            held->second.first = watched.arrival;
            ours = true;
        }
    }
    std::unique_ptr<HeldLock> place;
    if (roads_->placeLocks != nullptr && !ours) {
        LockAttempt attempt = roads_->placeLocks->tryHold(placeName);
        if (!attempt.hold && attempt.heldElsewhere) {
            // Said once for this arrival: the watcher asks again only when it comes back.
            stationLine(Message(MessageId::servedElsewhere, MessageDetail::name(run->location)));
            return nullptr;
        }
        place = std::move(attempt.hold);
    }
    {
        std::lock_guard lock(mutex_);
        // Beyond the count no phone is started: the run ends with the ones it has.
        if (plan_.count && arrivals_ >= *plan_.count) return nullptr;
        if (place) placeLocks_[placeName] = {watched.arrival, std::move(place)};
        run->arrival = ++arrivals_;
        run->phone = std::make_unique<StationPhone>(run->arrival, run->location,
                                                    roadName(watched.phone.road),
                                                    plan_.steps.size(), revisions_);
        ++running_;
        live_.emplace(run->arrival, run);
    }
    run->thread = bindings_.threads.startJoinable([this, run] { serve(run); });
    if (!run->thread) {
        run->phone->end(true, std::nullopt, "");
        finish(run, true);
    } else if (face_ != nullptr) {
        face_->rowsChanged(*this);
    }
    return run->state;
}

void StationEngine::serve(const std::shared_ptr<Run>& run) {
    bool failed = true;
    if (face_ != nullptr) face_->phoneBegins(run->phone->row(nowMs()));
    {
        const AttachedPhone& attached = run->watched.phone;
        JournalRecord record;
        record.location = run->location;
        record.road = roadName(attached.road);
        record.serial = bindings_.nativeToUtf8(attached.serial);
        record.started = bindings_.wallClock();
        if (plan_.recipe) {
            record.recipe = plan_.recipe->path;
            record.recipeSha256 = plan_.recipe->sha256;
        }

        StationPhoneView view(*run->phone, run->arrival, bindings_.clock, face_, bindings_.language,
                              bindings_.nativeToUtf8);
        Platform& platform = *platform_;
        Services services{*run->state, view, platform, view};

        Arrival arrival = arrive(services, attached, bindings_.files, *run->phone, record);
        ExitCode code = arrival.code;

        Observer observer(*run->phone, record, plan_, bindings_.wallClock);
        if (const auto& folder = arrival.folder) {
            std::vector<ChainStep> steps = plan_.steps;
            for (const std::string& name :
                 settleChainOutputs(steps, *folder, *folder, bindings_.files)) {
                // "-o dumps/pds.bin": the sub-folder is made in the phone's folder. One that
                // can't be made fails the file's creation, which says so.
                createFolderPath(bindings_.files,
                                 std::filesystem::path(name).parent_path().string());
            }
            PhoneChain chain(services, steps, images_, attached, &observer);
            code = chain.run();
        }
        // Its handle goes now: the phone may stay attached, served, while others come and go.
        run->state->device.store(nullptr);

        failed = code != ExitCode::done;
        record.ended = bindings_.wallClock();
        record.exitCode = static_cast<int>(code);
        std::optional<MessageId> reasonId;
        if (failed) {
            record.error = view.errorLine();
            reasonId = view.errorId();
            record.reason = reasonId ? std::string(messageName(*reasonId)) : std::string();
        }
        // The row tells the reason without the "ERROR - " the line begins with.
        const std::string& error = record.error;
        const std::size_t dash = error.find(" - ");
        run->logName =
            arrival.folder ? writePhoneLog(*arrival.folder, run->phone->log()) : std::string();
        run->phone->end(
            failed, reasonId, dash == std::string::npos ? error : error.substr(dash + 3),
            run->logName.empty() ? std::string() : bindings_.nativeToUtf8(run->logName));
        if (journal_ && journal_->append(record) != FileError::none) {
            journalFailed(
                Message(MessageId::journalNotWritten, MessageDetail::name(journal_->name())));
        }
    }
    if (face_ != nullptr) face_->phoneEnds(run->arrival);
    finish(run, failed);
}

std::string StationEngine::writePhoneLog(const std::string& folder,
                                         const std::vector<Message>& lines) {
    std::string text;
    for (const Message& line : lines) {
        text += consoleText(line, bindings_.language, bindings_.nativeToUtf8);
        text += '\n';
    }
    // As every file the tool makes: whole under its name, or not there.
    const std::string name = pathInFolder(folder, kPhoneLogName);
    const std::string part = partFileName(name);
    OpenedFile created = bindings_.files.createNew(part);
    if (!created.file) return {};
    const bool written =
        created.file->append({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}) &&
        created.file->flush();
    created.file.reset();
    if (!written || bindings_.files.renameNoReplace(part, name) != FileError::none) return {};
    return name;
}

void StationEngine::finish(const std::shared_ptr<Run>& run, bool failed) {
    if (face_ != nullptr) face_->rowsChanged(*this);
    const std::uint64_t now = nowMs();
    Finished entry{run->phone->row(now), run->phone->revision(), {}, run->logName};
    if (entry.logName.empty()) entry.log = run->phone->log();
    // The session's last touch of the station: once it counts as ended, run() may return.
    std::lock_guard lock(mutex_);
    --running_;
    ++(failed ? failed_ : done_);
    if (stoppedByOperator(entry.row)) ++stopped_;
    live_.erase(run->arrival);
    finishing_.push_back(run);
    finished_.push_back(std::move(entry));
    while (finished_.size() > bindings_.finishedRowsKept) {
        gone_.emplace_back(revisions_.fetch_add(1) + 1, finished_.front().row.arrival);
        finished_.pop_front();
    }
    // The rows that left are remembered a while longer than the rows themselves (a few numbers
    // each), so a face that looked a moment ago is told what left rather than sent the whole list.
    while (gone_.size() > std::max<std::size_t>(4 * bindings_.finishedRowsKept, 64)) {
        goneForgotten_ = gone_.front().first;
        gone_.pop_front();
    }
}

void StationEngine::joinSessions(bool all) {
    // On the scanning thread, the only one that starts sessions. A finished session's thread
    // has nothing left to do but return; with `all`, the live ones are waited for too.
    std::vector<std::shared_ptr<Run>> runs;
    {
        std::lock_guard lock(mutex_);
        runs.swap(finishing_);
        if (all) {
            for (const auto& [arrival, run] : live_) runs.push_back(run);
        }
    }
    for (const std::shared_ptr<Run>& run : runs) {
        if (run->thread) {
            run->thread->join();
            run->thread.reset();
        }
    }
}

void StationEngine::tellAwaitedPorts(const std::vector<AttachedPhone>& seen) {
    std::string awaited;
    for (const std::string& port : plan_.ports) {
        const bool there = std::any_of(seen.begin(), seen.end(), [&](const AttachedPhone& phone) {
            return atPort(port, phone);
        });
        if (there) continue;
        if (!awaited.empty()) awaited += ", ";
        awaited += port;
    }
    if (awaited.empty()) return;
    // A note for the face drawing now, not one of the station's lines kept for after its end: by
    // then a phone may have come to the place.
    if (face_ != nullptr)
        face_->stationLine(Message(MessageId::waitingAtPorts, MessageDetail::name(awaited)));
}

void StationEngine::stopSessions() {
    std::vector<std::shared_ptr<Run>> runs;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [arrival, run] : live_) runs.push_back(run);
    }
    for (const std::shared_ptr<Run>& run : runs) stopSession(*run->state, *platform_);
}

void StationEngine::copyTotals(StationStatus& status, std::uint64_t now) const {
    status.elapsedMs = startedMs_ ? now - *startedMs_ : 0;
    status.running = running_;
    status.done = done_;
    status.failed = failed_;
    status.stopped = stopped_;
    status.ended = ended_;
    status.stationLines = stationLines_;
    status.journalFailure = journalFailure_;
    status.journalFailures = journalFailures_;
}

StationStatus StationEngine::snapshot() const {
    const std::uint64_t now = nowMs();
    std::lock_guard lock(mutex_);
    return wholeList(now);
}

StationStatus StationEngine::wholeList(std::uint64_t now) const {
    StationStatus status;
    // Taken before the rows: a change made while they are copied is in the next changes too.
    status.revision = revisions_.load();
    copyTotals(status, now);
    status.rows.reserve(finished_.size() + live_.size());
    for (const Finished& finished : finished_) status.rows.push_back(finished.row);
    for (const auto& [arrival, run] : live_) status.rows.push_back(run->phone->row(now));
    sortByArrival(status.rows);
    return status;
}

StationStatus StationEngine::changesSince(std::uint64_t revision) const {
    const std::uint64_t now = nowMs();
    std::lock_guard lock(mutex_);
    if (revision < goneForgotten_) return wholeList(now);
    StationStatus status;
    status.whole = false;
    status.revision = revisions_.load();
    copyTotals(status, now);
    for (const Finished& finished : finished_) {
        if (finished.revision > revision) status.rows.push_back(finished.row);
    }
    for (const auto& [arrival, run] : live_) status.rows.push_back(run->phone->row(now));
    sortByArrival(status.rows);
    for (const auto& [left, arrival] : gone_) {
        if (left > revision) status.gone.push_back(arrival);
    }
    return status;
}

std::vector<Message> StationEngine::logOf(std::size_t arrival) const {
    std::shared_ptr<Run> run;
    {
        std::lock_guard lock(mutex_);
        if (const auto live = live_.find(arrival); live != live_.end()) {
            run = live->second;
        } else {
            for (const Finished& finished : finished_) {
                if (finished.row.arrival != arrival) continue;
                if (finished.logName.empty()) return finished.log;
                return {Message(MessageId::phoneLogInFile, MessageDetail::name(finished.logName))};
            }
            return {};
        }
    }
    return run->phone->log();
}

}  // namespace norvale
