// The station: every phone that arrives runs the chain in a session of its own, and one model of
// each phone is kept for the faces to draw.
#pragma once

#include <atomic>
#include <cstddef>
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
// - When a phone's chain ends, its journal line is appended and its row says how it ended.
// - The run ends once `count` phones have ended (no phone beyond the count is started), or on
//   requestStop(): every session stops as one phone's run does (a file being written keeps its
//   .part), its transfer in flight cut (stopSession), so no stop waits for a phone that does
//   not answer; the run waits for every phone's thread before it returns, within a few of its
//   looks (a tenth of a second each) of the stop.
// The exit code: 130 after a stop; else 6 when some phone failed; else 4 when a journal line
// could not be written; else 0.
// The model: each session writes its row under a lock held only to copy a few fields; snapshot()
// and logOf() copy under the same locks, from any thread, and never wait on a transfer.
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

    // Any thread.
    StationStatus snapshot() const;
    // The messages of the phone run `arrival`, in order; none for an arrival not seen.
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
    void finish(bool failed);
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

    mutable std::mutex mutex_;
    std::optional<std::uint64_t> startedMs_;
    bool ended_ = false;
    std::vector<std::shared_ptr<Run>> runs_;  // every arrival served, in order
    std::vector<Message> stationLines_;
    std::size_t running_ = 0;  // sessions not ended yet
    std::size_t done_ = 0;
    std::size_t failed_ = 0;
    bool journalFailed_ = false;
};

}  // namespace norvale
