// The station: every phone that arrives runs the chain in a session of its own, and one model of
// each phone is kept for the faces to draw.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Message.h"
#include "presence/PhoneWatcher.h"
#include "station/ExitCode.h"
#include "station/NoFileChooser.h"
#include "station/PhoneChain.h"
#include "station/StationBindings.h"
#include "station/StationFace.h"
#include "station/StationJournal.h"
#include "station/StationModel.h"
#include "station/StationPlan.h"

namespace norvale {

class StationPhone;

// The run, on the calling thread (a console's main thread, a window's worker):
// - Before any phone: the working folder, the images every write names, read once and shared
//   read-only by all sessions, the chain's file names, the journal; then the roads. A problem
//   there ends the run with its message as a station line and its exit code.
// - Then a watcher scans both roads once a second. Each phone that arrives (those attached at
//   the start too) at a place the plan's ports name, or anywhere without ports, gets a row, a
//   folder of its own, a SessionState, and a thread through the bindings' ThreadStarter that
//   announces it and runs the chain in that folder. A phone is served once per arrival: one that
//   stays attached after its chain is not run again, one that leaves and comes back is a new
//   run. Its removal reaches its own session only.
// - A phone another program of the computer serves (a lock named after its place, held by each
//   station from a phone's arrival there until it leaves, PhoneRoads::placeLocks) is said once
//   (servedElsewhere) and left alone until it leaves.
// - When a phone's chain ends, its log lines go to the file kPhoneLogName in its folder (under
//   ".part", then named) and leave memory; its journal line is appended and its row says how it
//   ended. A journal line that can't be written is told at once, to the face as a station line
//   and in the status (journalFailure, journalFailures).
// - The run ends once `count` phones have ended (no phone beyond the count is started), or on
//   requestStop(): every session stops as one phone's run does (a file being written keeps its
//   .part), its transfer in flight cut (stopSession), so no stop waits for a phone that does
//   not answer; the run waits for every phone's thread before it returns, within a few of its
//   looks (a tenth of a second each) of the stop.
// The exit code: 7 when a journal line could not be written (before all others: only it says the
// journal lacks a phone); else 130 after a stop; else 6 when some phone failed; else 0.
// The model: each session writes its row under a lock held only to copy a few fields; snapshot(),
// changesSince() and logOf() copy under the same locks, from any thread, and never wait on a
// transfer. The rows are the running phones and the latest `finishedRowsKept` finished ones: a
// copy's size and work stay the same however many phones a shift served.
class StationEngine {
public:
    StationEngine(StationBindings& bindings, StationPlan plan, StationFace* face = nullptr);
    StationEngine(const StationEngine&) = delete;
    StationEngine& operator=(const StationEngine&) = delete;
    ~StationEngine();

    // Blocks until the station has ended; once per engine.
    ExitCode run();
    // Any thread, any time (before run() too: then the run ends as soon as it began).
    void requestStop();

    // Any thread. The whole list (StationStatus::whole).
    StationStatus snapshot() const;
    // Any thread. What changed since the copy whose `revision` is given: every running row (its
    // transfer's time moves on), the finished rows that changed after it and the arrivals that
    // left the list (`gone`); or, when the engine no longer knows what left since then, the
    // whole list (`whole` set). The totals and the station's lines are whole in either.
    StationStatus changesSince(std::uint64_t revision) const;
    // The messages of the phone run `arrival`, in order, while it runs. Once it ended they are in
    // its row's logFile, and this gives one message naming it (phoneLogInFile); a finished phone
    // that had no folder, or whose file could not be written, keeps its lines here while its row
    // is listed. None for an arrival not listed.
    std::vector<Message> logOf(std::size_t arrival) const;

    const StationPlan& plan() const { return plan_; }

private:
    struct Run;
    class Observer;

    ExitCode prepare();
    ExitCode refuse(const Message& reason);
    ExitCode refuse(MessageId reason, std::string_view name = {});
    // Whether `port` names the phone's place: its id, its location (native or UTF-8) or its path.
    bool atPort(const std::string& port, const AttachedPhone& phone) const;
    bool wanted(const AttachedPhone& phone) const;
    std::shared_ptr<SessionState> arrived(const WatchedPhone& watched);
    void serve(const std::shared_ptr<Run>& run);
    // Its log lines into its folder's file; the file's name, or empty when it could not be made.
    std::string writePhoneLog(const std::string& folder, const std::vector<Message>& lines);
    void finish(const std::shared_ptr<Run>& run, bool failed);
    void journalFailed(const Message& message);
    // Under mutex_.
    void copyTotals(StationStatus& status, std::uint64_t now) const;
    StationStatus wholeList(std::uint64_t now) const;
    void stopSessions();
    // Joins the sessions that have ended, or with `all` every one (waiting for those still
    // running); on run()'s thread, or in the destructor once run() has returned.
    void joinSessions(bool all);
    // After the first scan: the places asked for that no phone is at yet, said once.
    void tellAwaitedPorts(const std::vector<AttachedPhone>& seen);
    void stationLine(const Message& message);
    std::uint64_t nowMs() const;

    StationBindings& bindings_;
    StationPlan plan_;
    StationFace* face_;
    Clock& loopClock_;
    std::atomic<bool> stopRequested_{false};

    std::vector<SharedImage> images_;
    std::optional<StationJournal> journal_;
    std::shared_ptr<PhoneRoads> roads_;
    std::unique_ptr<Platform> platform_;  // the watcher's and every session's
    NoFileChooser chooser_;

    // A finished phone's row as the faces are shown it, and its lines when no file holds them.
    struct Finished {
        PhoneRow row;
        std::uint64_t revision = 0;
        std::vector<Message> log;
        std::string logName;  // native; empty when `log` holds its lines
    };

    std::atomic<std::uint64_t> revisions_{0};  // every row's change takes the next number
    mutable std::mutex mutex_;
    std::optional<std::uint64_t> startedMs_;
    bool ended_ = false;
    std::size_t arrivals_ = 0;
    std::map<std::size_t, std::shared_ptr<Run>> live_;  // by arrival: sessions not finished
    std::vector<std::shared_ptr<Run>> finishing_;       // finished, their threads to be joined
    std::deque<Finished> finished_;                     // the latest, in the order they ended
    // The arrivals that left the list, with the revision they left at; the older ones are
    // forgotten, and a face that last looked before `goneForgotten_` gets the whole list.
    std::deque<std::pair<std::uint64_t, std::size_t>> gone_;
    std::uint64_t goneForgotten_ = 0;
    // The places this station holds, by the lock's name, with the watcher's arrival there: from
    // a phone's arrival until it leaves (a phone that stays attached after its chain is no other
    // program's to take).
    std::map<std::string, std::pair<std::uint64_t, std::unique_ptr<HeldLock>>> placeLocks_;
    std::vector<Message> stationLines_;
    std::size_t running_ = 0;  // sessions not ended yet
    std::size_t done_ = 0;
    std::size_t failed_ = 0;
    std::size_t stopped_ = 0;
    std::optional<Message> journalFailure_;
    std::size_t journalFailures_ = 0;
};

// The file in each phone's folder its log lines go to once it ended.
inline constexpr std::string_view kPhoneLogName = "phone.log";

}  // namespace norvale
