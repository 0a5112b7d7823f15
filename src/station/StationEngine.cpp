// The station's loop on the main thread, and each phone's session on a thread of its own.
#include "station/StationEngine.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "station/ChainFiles.h"
#include "station/PhoneFolder.h"
#include "cli/PrefixedConsole.h"
#include "station/StationPhone.h"
#include "station/StationPhoneView.h"
#include "operations/PartFile.h"
#include "presence/ConnectionMonitor.h"
#include "presence/PresenceHandling.h"

namespace norvale {
namespace {

// The table's pace: ten drawings a second at most, and a look at Ctrl+C as often.
constexpr std::uint32_t kTickMs = 100;

// "write pds new.bin" -> "write".
std::string firstWord(const std::string& typed) { return typed.substr(0, typed.find(' ')); }

}  // namespace

struct Station::Run {
    WatchedPhone watched;
    std::string location;  // UTF-8
    std::shared_ptr<SessionState> state = std::make_shared<SessionState>();
    std::unique_ptr<StationPhone> phone;
};

// The journal record of one phone, filled in as its chain goes, and its row kept current.
class Station::Observer final : public ChainObserver {
public:
    Observer(StationPhone& phone, JournalRecord& record, const std::vector<std::string>& typed)
        : phone_(phone), record_(record), typed_(typed) {
        for (const std::string& command : typed) {
            record_.commands.push_back(JournalCommand{command, "not_run", 0, {}});
        }
    }

    void commandBegins(std::size_t index) override {
        current_ = index;
        phone_.beginCommand(index, firstWord(typed_[index]));
    }
    void fileMade(const std::string& name, const std::string& sha256) override {
        record_.commands[current_].files.push_back({name, sha256});
    }
    void verified(bool equal) override {
        if (record_.verify != "mismatch") record_.verify = equal ? "passed" : "mismatch";
    }
    void commandEnds(std::size_t index, ExitCode code) override {
        JournalCommand& command = record_.commands[index];
        command.result = code == ExitCode::done ? "done" : "failed";
        command.bytes = phone_.takeCommandBytes();
    }

private:
    StationPhone& phone_;
    JournalRecord& record_;
    const std::vector<std::string>& typed_;
    std::size_t current_ = 0;
};

Station::Station(CliBindings& bindings, CliView& view, CommandLine line, WallClock wallClock,
                 Clock* loopClock)
    : bindings_(bindings),
      view_(view),
      line_(std::move(line)),
      wallClock_(std::move(wallClock)),
      loopClock_(loopClock != nullptr ? *loopClock : bindings.clock) {}

Station::~Station() {
    // Every session has ended in run(); the devices go before the roads that opened them.
    for (const std::shared_ptr<Run>& run : runs_) run->state->device.store(nullptr);
}

ExitCode Station::refuse(MessageId reason, std::string_view name) {
    if (name.empty()) {
        view_.append(reason);
    } else {
        view_.append(Message(reason, MessageDetail::name(name)));
    }
    return exitCodeFor(reason);
}

ExitCode Station::prepare() {
    const StationOptions& station = line_.options.station;
    if (line_.options.workingFolder) {
        for (CliStep& step : line_.steps) {
            if (auto* write = std::get_if<WriteStep>(&step)) anchorToTypedFolder(write->image);
        }
        if (station.journal) anchorToTypedFolder(*line_.options.station.journal);
        std::error_code failed;
        std::filesystem::current_path(*line_.options.workingFolder, failed);
        if (failed) return refuse(MessageId::cannotOpenFolder, *line_.options.workingFolder);
    }
    if (const auto refusal = loadChainImages(bindings_.files, line_.steps, images_)) {
        view_.append(*refusal);
        return exitCodeFor(refusal->id);
    }
    // Every phone's folder is new and empty; only a name given twice can clash.
    std::vector<CliStep> steps = line_.steps;
    std::set<std::string> named;
    for (const std::string& name : settleChainOutputs(steps, "phone", "phone", bindings_.files)) {
        if (!named.insert(name).second) return refuse(MessageId::fileNamedTwice, name);
    }
    if (station.journal) {
        journal_.emplace(bindings_.files, *station.journal);
        if (const FileError error = journal_->open(); error != FileError::none) {
            return refuse(createFailureReason(error), *station.journal);
        }
    }
    roads_ = bindings_.openRoads ? bindings_.openRoads(line_.options.simulated) : nullptr;
    if (!roads_) return refuse(MessageId::phoneNotConnected);
    platform_ = std::make_unique<Platform>(
        Platform{roads_->driver, roads_->interfaces, roads_->removalWatch, roads_->usb,
                 bindings_.files, chooser_, bindings_.clock, bindings_.threads});
    return ExitCode::done;
}

ExitCode Station::run() {
    if (const ExitCode code = prepare(); code != ExitCode::done) return code;
    Console& console = bindings_.console;
    if (!line_.options.quiet && console.isTerminal(ConsoleStream::output) &&
        console.enableCursorMoves()) {
        table_.emplace(console, bindings_.clock);
    }
    console.watchInterrupt(&stopRequested_);
    startedMs_ = bindings_.clock.nowMs();
    bool stopping = false;
    {
        PhoneWatcher watcher(
            *platform_, [this](const WatchedPhone& watched) { return arrived(watched); },
            [](const WatchedPhone& /*watched*/) {});
        std::optional<std::uint64_t> nextScan;
        const std::optional<unsigned> count = line_.options.station.count;
        for (;;) {
            if (stopRequested_.load() && !stopping) {
                stopping = true;
                stopSessions();
            }
            {
                std::lock_guard lock(mutex_);
                const bool allEnded = running_ == 0;
                if (allEnded && (stopping || (count && done_ + failed_ >= *count))) break;
            }
            const std::uint64_t now = bindings_.clock.nowMs();
            if (!stopping && (!nextScan || now >= *nextScan)) {
                watcher.scan();
                // Once a second, as the dialog's monitor scans; removals come from each phone's
                // own watch.
                nextScan = now + kScanIntervalMs;
            }
            draw(false);
            loopClock_.sleep(kTickMs);
        }
    }
    draw(true);
    console.watchInterrupt(nullptr);
    std::lock_guard lock(mutex_);
    if (stopping) return ExitCode::interrupted;
    if (failed_ > 0) return ExitCode::somePhoneFailed;
    if (journalFailed_) return ExitCode::fileProblem;
    return ExitCode::done;
}

bool Station::wanted(const AttachedPhone& phone) const {
    const std::vector<std::string>& ports = line_.options.station.ports;
    if (ports.empty()) return true;
    const std::string location = bindings_.console.nativeToUtf8(phone.location);
    return std::any_of(ports.begin(), ports.end(), [&](const std::string& port) {
        return port == phone.id || port == phone.location || port == location;
    });
}

std::shared_ptr<SessionState> Station::arrived(const WatchedPhone& watched) {
    if (stopRequested_.load() || !wanted(watched.phone)) return nullptr;
    auto run = std::make_shared<Run>();
    run->watched = watched;
    run->location = bindings_.console.nativeToUtf8(watched.phone.location);
    run->phone = std::make_unique<StationPhone>(run->location, roadName(watched.phone.road),
                                                line_.steps.size());
    {
        std::lock_guard lock(mutex_);
        // Beyond --count no phone is started: the run ends with the ones it has.
        const std::optional<unsigned> count = line_.options.station.count;
        if (count && started_ >= *count) return nullptr;
        ++started_;
        ++running_;
        runs_.push_back(run);
    }
    if (!bindings_.threads.start([this, run] { serve(run); })) {
        run->phone->end(true, "");
        finish(true);
    }
    draw(true);
    return run->state;
}

void Station::serve(const std::shared_ptr<Run>& run) {
    bool failed = true;
    {
        const AttachedPhone& attached = run->watched.phone;
        JournalRecord record;
        record.location = run->location;
        record.road = roadName(attached.road);
        record.started = wallClock_();

        // On a terminal the table shows how each phone goes; only error lines go above it.
        PrefixedConsole console(bindings_.console, linesLock_, run->location,
                                table_ ? &*table_ : nullptr);
        CliView lines(console, bindings_.clock, view_.language(),
                      line_.options.quiet || table_.has_value());
        StationPhoneView view(lines, *run->phone, bindings_.clock, console);
        Platform& platform = *platform_;
        Services services{*run->state, view, platform, view};

        const PhoneIdentity identity =
            handleArrivalOf(services, openAttachedPhone(platform, attached));
        record.bootVersion = identity.bootVersion;
        record.mode = identity.mode;

        Observer observer(*run->phone, record, line_.stepTexts);
        ExitCode code = ExitCode::done;
        if (const auto folder = createPhoneFolder("", attached.location, record.started)) {
            std::vector<CliStep> steps = line_.steps;
            for (const std::string& name :
                 settleChainOutputs(steps, *folder, *folder, bindings_.files)) {
                // "-o dumps/pds.bin": the sub-folder is made in the phone's folder.
                std::error_code ignored;
                std::filesystem::create_directories(std::filesystem::path(name).parent_path(),
                                                    ignored);
            }
            PhoneChain chain(services, steps, images_, attached, &observer);
            code = chain.run();
        } else {
            const std::string name = phoneFolderName(attached.location, record.started);
            view.append(Message(MessageId::cannotCreateFolder, MessageDetail::name(name)));
            code = exitCodeFor(MessageId::cannotCreateFolder);
        }
        // Its handle goes now: the phone may stay attached, served, while others come and go.
        run->state->device.store(nullptr);

        failed = code != ExitCode::done;
        record.ended = wallClock_();
        record.exitCode = static_cast<int>(code);
        if (failed) {
            record.error = view.errorLine();
            record.reason = view.reasonName();
        }
        const std::string& error = record.error;
        const std::size_t dash = error.find(" - ");
        run->phone->end(failed, dash == std::string::npos ? error : error.substr(dash + 3));
        if (journal_ && journal_->append(record) != FileError::none) {
            view_.append(
                Message(MessageId::journalNotWritten, MessageDetail::name(journal_->name())));
            std::lock_guard lock(mutex_);
            journalFailed_ = true;
        }
    }
    finish(failed);
}

void Station::finish(bool failed) {
    draw(true);
    // The session's last touch of the station: once it counts as ended, run() may return.
    std::lock_guard lock(mutex_);
    --running_;
    ++(failed ? failed_ : done_);
}

void Station::stopSessions() {
    std::lock_guard lock(mutex_);
    for (const std::shared_ptr<Run>& run : runs_) run->state->stopRequested.store(true);
}

void Station::draw(bool force) {
    if (!table_) return;
    const std::uint64_t now = bindings_.clock.nowMs();
    StationSnapshot snapshot;
    snapshot.elapsedMs = now - startedMs_;
    {
        std::lock_guard lock(mutex_);
        snapshot.running = running_;
        snapshot.done = done_;
        snapshot.failed = failed_;
        // One row a location: its latest phone, in the order the locations first came.
        std::vector<std::string> order;
        std::map<std::string, const Run*> latest;
        for (const std::shared_ptr<Run>& run : runs_) {
            if (latest.count(run->location) == 0) order.push_back(run->location);
            latest[run->location] = run.get();
        }
        for (const std::string& location : order) {
            snapshot.rows.push_back(latest[location]->phone->row(now));
        }
    }
    table_->draw(formatStationTable(snapshot, bindings_.console.width()), force);
}

}  // namespace norvale
