// The station engine's model of each phone against simulated phones, as any face relies on it:
// the engine runs on a worker thread as a window runs it, and the test reads what a face reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "StationRig.h"
#include "core/MessageCatalogue.h"
#include "sim/SimPlaceLocks.h"
#include "station/ConsoleText.h"
#include "station/StationEngine.h"

namespace norvale {
namespace {

using namespace norvale::testing;

// What a face that draws as things happen is told, with the row each line was written under.
class RecordingFace final : public StationFace {
public:
    struct Line {
        std::size_t arrival;
        MessageId id;
        std::size_t step;
        std::string command;
        Message message;
    };

    void stationLine(const Message& message) override {
        // Told at once: the station is still watching, not ended, when a line comes.
        const bool ended = engine_ != nullptr && engine_->snapshot().ended;
        std::lock_guard lock(mutex_);
        stationLines.push_back(message);
        toldAfterEnd = toldAfterEnd || ended;
    }
    void watching(StationEngine& engine) override {
        std::lock_guard lock(mutex_);
        engine_ = &engine;
    }
    void phoneLine(std::size_t arrival, const Message& message) override {
        const StationStatus status = engine_->snapshot();
        const auto row = std::find_if(status.rows.begin(), status.rows.end(),
                                      [&](const PhoneRow& r) { return r.arrival == arrival; });
        std::lock_guard lock(mutex_);
        lines.push_back({arrival, message.id, row->step, row->command, message});
        if (onLine) onLine(*engine_, arrival, message);
    }

    // Its lines as told, and as its log file holds them.
    std::vector<Message> messagesOf(std::size_t arrival) const {
        std::vector<Message> messages;
        for (const Line& line : lines) {
            if (line.arrival == arrival) messages.push_back(line.message);
        }
        return messages;
    }
    std::string textOf(std::size_t arrival) const {
        std::string text;
        for (const Message& message : messagesOf(arrival)) {
            text += consoleText(message, Language::english,
                                [](std::string_view name) { return std::string(name); }) +
                    "\n";
        }
        return text;
    }

    // Called on the phone's thread after each of its lines was recorded.
    std::function<void(StationEngine&, std::size_t, const Message&)> onLine;
    std::vector<Message> stationLines;
    std::vector<Line> lines;
    bool toldAfterEnd = false;

private:
    std::mutex mutex_;
    StationEngine* engine_ = nullptr;
};

// The engine over `args` (after "--station --sim"), with no console: run on a worker thread, the
// phones pulled out once it has ended.
struct EngineRun {
    int code = -1;
    StationStatus status;
    // By arrival, from 1: the lines of each listed phone's log file, and what logOf() gives.
    std::map<std::size_t, std::string> logs;
    std::map<std::size_t, std::vector<Message>> logOf;
};

StationBindings engineBindings(StationRig& rig, int* roadsOpened = nullptr,
                               NamedLocks* places = nullptr) {
    return StationBindings{rig.cli.files,
                           rig.cli.clock,
                           rig.cli.threads,
                           [&rig, roadsOpened, places](bool /*simulated*/) {
                               if (roadsOpened != nullptr) ++*roadsOpened;
                               CliRig& cli = rig.cli;
                               return std::make_shared<PhoneRoads>(PhoneRoads{
                                   cli.driver, cli.driver, cli.driver, cli.driver, places});
                           },
                           [](std::string_view text) { return std::string(text); },
                           Language::english,
                           [] { return kStationTime; }};
}

StationPlan planOf(std::vector<std::string> args) {
    args.insert(args.begin(), {"--station", "--sim"});
    const CommandLine line = parseCommandLine(args);
    EXPECT_EQ(line.kind, CommandLine::Kind::run) << line.detail;
    return stationPlan(line);
}

std::vector<std::string> fileLines(const std::string& name) {
    std::vector<std::string> lines;
    std::ifstream in(name, std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

EngineRun runEngine(StationRig& rig, std::vector<std::string> args, StationFace* face,
                    const std::function<void(StationEngine&)>& before = {},
                    int* roadsOpened = nullptr, std::size_t rowsKept = 300) {
    StationBindings bindings = engineBindings(rig, roadsOpened);
    bindings.finishedRowsKept = rowsKept;
    EngineRun result;
    StationEngine engine(bindings, planOf(std::move(args)), face);
    if (before) before(engine);
    std::thread worker([&] { result.code = static_cast<int>(engine.run()); });
    worker.join();
    rig.cli.driver.detachAll();
    rig.cli.threads.joinAll();
    result.status = engine.snapshot();
    for (const PhoneRow& row : result.status.rows) {
        std::ifstream in(row.logFile, std::ios::binary);
        result.logs[row.arrival].assign(std::istreambuf_iterator<char>(in), {});
        result.logOf[row.arrival] = engine.logOf(row.arrival);
    }
    return result;
}

PhoneRow doneRow(const StationRig& rig, std::size_t arrival, std::size_t steps, std::string command,
                 std::size_t logLines) {
    PhoneRow row;
    row.logFile = inFolder(rig.folder(static_cast<unsigned>(arrival)), "phone.log");
    row.arrival = arrival;
    row.place = "1-1." + std::to_string(arrival);
    row.road = "usb";
    row.bootVersion = "0C60";
    row.mode = "FLASH ";
    row.state = PhoneRow::State::done;
    row.step = steps;
    row.steps = steps;
    row.command = std::move(command);
    row.logLines = logLines;
    return row;
}

TEST(StationModel, EachPhonesRowFollowsItsChainAndItsLogHoldsItsLines) {
    StationRig rig(2);
    RecordingFace face;
    // While a dump is written, some row shows the read's transfer of the whole region.
    std::mutex mutex;
    std::vector<PhoneTransfer> seen;
    StationEngine* running = nullptr;
    rig.cli.files.beforeAppend([&] {
        if (running == nullptr) return;
        for (const PhoneRow& row : running->snapshot().rows) {
            std::lock_guard lock(mutex);
            if (row.transfer) seen.push_back(*row.transfer);
        }
    });
    const EngineRun run = runEngine(rig, {"--count", "2", "read", "pds", "-o", "pds.bin", "start"},
                                    &face, [&](StationEngine& engine) { running = &engine; });

    EXPECT_EQ(run.code, 0);
    EXPECT_TRUE(run.status.ended);
    EXPECT_EQ(run.status.running, 0u);
    EXPECT_EQ(run.status.done, 2u);
    EXPECT_EQ(run.status.failed, 0u);
    EXPECT_TRUE(run.status.stationLines.empty());
    ASSERT_EQ(run.status.rows.size(), 2u);
    for (std::size_t k = 1; k <= 2; ++k) {
        SCOPED_TRACE("phone " + std::to_string(k));
        const PhoneRow row = doneRow(rig, k, 2, "start", face.messagesOf(k).size());
        EXPECT_EQ(run.status.rows[k - 1], row);
        // Its log went to its folder's file, which logOf() names.
        const std::vector<Message> named{
            Message(MessageId::phoneLogInFile, MessageDetail::name(row.logFile))};
        EXPECT_EQ(run.logOf.at(k), named);
        // Its log is the lines the face was told for it, each under the step it belongs to.
        for (const RecordingFace::Line& line : face.lines) {
            if (line.arrival != k) continue;
            using Under = std::pair<std::size_t, std::string>;
            const Under under{line.step, line.command};
            if (line.id == MessageId::phoneConnected) EXPECT_EQ(under, Under(0, ""));
            if (line.id == MessageId::readingBlock) EXPECT_EQ(under, Under(1, "read"));
            if (line.id == MessageId::startingPhone) EXPECT_EQ(under, Under(2, "start"));
        }
        EXPECT_EQ(run.logs.at(k), face.textOf(k));
        const std::vector<Message> log = face.messagesOf(k);
        ASSERT_GE(log.size(), 4u);
        EXPECT_EQ(log[0], Message(MessageId::phoneConnected));
        EXPECT_EQ(log.back(), Message(MessageId::success));
    }
    ASSERT_FALSE(seen.empty());
    for (const PhoneTransfer& transfer : seen) {
        EXPECT_EQ(transfer.total, 0x10000u);
        EXPECT_LE(transfer.done, transfer.total);
    }
}

TEST(StationModel, AFaultFailsThatPhonesRowWithItsReasonAndTheOthersEndDone) {
    StationRig rig(3);
    // Phone 2 is pulled out in the middle of its read.
    rig.cli.driver.addFault(rig.number(2), SimFaultKind::unplug, 4 + 16 + 5);
    RecordingFace face;
    const EngineRun run = runEngine(rig, {"--count", "3", "read", "pds", "-o", "pds.bin"}, &face);

    EXPECT_EQ(run.code, 6);
    EXPECT_EQ(run.status.done, 2u);
    EXPECT_EQ(run.status.failed, 1u);
    ASSERT_EQ(run.status.rows.size(), 3u);
    // Arrival order is the order the phones were seen; find phone 2's row by its place.
    for (const PhoneRow& row : run.status.rows) {
        SCOPED_TRACE(row.place);
        const std::vector<Message> log = face.messagesOf(row.arrival);
        EXPECT_EQ(run.logs.at(row.arrival), face.textOf(row.arrival));
        PhoneRow expected = doneRow(rig, row.arrival, 1, "read", log.size());
        // Arrival K is not phone K: the row and its file are named after its own place.
        expected.place = row.place;
        expected.logFile =
            inFolder(locationFileName(row.place) + "-" + std::string(kStationStamp), "phone.log");
        if (row.place != "1-1.2") {
            EXPECT_EQ(row, expected) << row.place;
            continue;
        }
        PhoneRow failed = expected;
        failed.state = PhoneRow::State::failed;
        failed.reasonId = MessageId::noAnswer;
        failed.reason = "no connection with the phone";
        EXPECT_EQ(row, failed);
        // Its last error line is the reason; its removal is told after it.
        const auto lastError = std::find_if(log.rbegin(), log.rend(), [](const Message& message) {
            return isErrorMessage(message.id);
        });
        ASSERT_NE(lastError, log.rend());
        EXPECT_EQ(*lastError, Message(MessageId::noAnswer));
        EXPECT_EQ(log.back(), Message(MessageId::phoneDisconnected));
    }
}

TEST(StationModel, StopEndsEveryPhoneAtItsNextTransferAndTheRowsSaySo) {
    StationRig rig(2);
    // Each dump's writer waits until Stop was pressed, so both phones are mid-read by then.
    std::mutex mutex;
    std::condition_variable pressed;
    bool stopped = false;
    rig.cli.files.beforeAppend([&] {
        std::unique_lock lock(mutex);
        pressed.wait(lock, [&] { return stopped; });
    });
    RecordingFace face;
    std::size_t reading = 0;
    face.onLine = [&](StationEngine& engine, std::size_t /*arrival*/, const Message& message) {
        if (message.id != MessageId::readingBlock || ++reading < 2) return;
        engine.requestStop();
        std::lock_guard lock(mutex);
        stopped = true;
        pressed.notify_all();
    };
    const EngineRun run =
        runEngine(rig, {"read", "10000000-103FFFFF", "-o", "all.bin", "start"}, &face);

    EXPECT_EQ(run.code, 130);
    EXPECT_TRUE(run.status.ended);
    EXPECT_EQ(run.status.failed, 2u);
    ASSERT_EQ(run.status.rows.size(), 2u);
    for (const PhoneRow& row : run.status.rows) {
        SCOPED_TRACE(row.place);
        EXPECT_EQ(row.state, PhoneRow::State::failed);
        EXPECT_EQ(row.step, 1u);
        EXPECT_EQ(row.command, "read");
        EXPECT_FALSE(row.transfer.has_value());
        ASSERT_TRUE(row.reasonId.has_value());
        EXPECT_TRUE(*row.reasonId == MessageId::readStoppedByOperator ||
                    *row.reasonId == MessageId::stoppedByOperator)
            << messageName(*row.reasonId);
        EXPECT_EQ(row.reason.rfind("stopped by the operator", 0), 0u) << row.reason;
    }
}

TEST(StationModel, APlanTheStationCantPrepareEndsWithItsLineAndNoRow) {
    StationRig rig(2);
    RecordingFace face;
    int roadsOpened = 0;
    const EngineRun run = runEngine(rig, {"write", "pds", "missing.bin"}, &face, {}, &roadsOpened);

    EXPECT_EQ(run.code, 4);
    EXPECT_TRUE(run.status.ended);
    EXPECT_TRUE(run.status.rows.empty());
    const std::vector<Message> expected{
        Message(MessageId::cannotReadFile, MessageDetail::name("missing.bin"))};
    EXPECT_EQ(run.status.stationLines, expected);
    EXPECT_EQ(face.stationLines, expected);
    EXPECT_EQ(roadsOpened, 0);
}

TEST(StationModel, AShiftKeepsTheLatestRowsTellsWhatChangedAndEveryJournalLineThatFailed) {
    StationRig rig(2);
    // Each phone comes back after its start: six runs through two places, two rows kept.
    rig.cli.driver.returnAfterStart(20);
    // From the third line on the journal can't be written, as a share that went away.
    rig.cli.files.failAppending("j.jsonl", 3, FileError::other);
    RecordingFace face;
    std::optional<StationStatus> early;
    std::optional<StationStatus> changes;
    face.onLine = [&](StationEngine& engine, std::size_t arrival, const Message& message) {
        if (message.id != MessageId::startingPhone) return;
        if (arrival == 1) early = engine.snapshot();
        if (arrival == 6) changes = engine.changesSince(early->revision);
    };
    const EngineRun run =
        runEngine(rig, {"--count", "6", "--journal", "j.jsonl", "start"}, &face, {}, nullptr, 2);

    EXPECT_EQ(run.code, 7);
    EXPECT_EQ(run.status.done, 6u);
    // The two listed are the last to end: the last phone of each place, the sixth among them.
    ASSERT_EQ(run.status.rows.size(), 2u);
    EXPECT_EQ(run.status.rows[1].arrival, 6u);
    EXPECT_NE(run.status.rows[0].place, run.status.rows[1].place);
    // The changes after the first phone's start: the rows that left, the running sixth phone.
    ASSERT_TRUE(changes.has_value());
    EXPECT_FALSE(changes->whole);
    // By the sixth arrival at two places four or five have ended, two of them still listed.
    const std::vector<std::size_t>& gone = changes->gone;
    EXPECT_TRUE(gone.size() == 2 || gone.size() == 3) << gone.size();
    for (const std::size_t arrival : gone) {
        EXPECT_LT(arrival, 6u);
        EXPECT_TRUE(std::none_of(changes->rows.begin(), changes->rows.end(),
                                 [&](const PhoneRow& row) { return row.arrival == arrival; }));
    }
    ASSERT_FALSE(changes->rows.empty());
    EXPECT_EQ(changes->rows.back().arrival, 6u);
    EXPECT_EQ(changes->rows.back().state, PhoneRow::State::running);
    // Each failed line was told as it happened; the status keeps the first and the count.
    const Message failed(MessageId::journalNotWritten, MessageDetail::name("j.jsonl"));
    EXPECT_EQ(face.stationLines, std::vector<Message>(4, failed));
    EXPECT_FALSE(face.toldAfterEnd);
    EXPECT_EQ(run.status.journalFailure, failed);
    EXPECT_EQ(run.status.journalFailures, 4u);
    EXPECT_EQ(run.status.stationLines, std::vector<Message>{failed});
    EXPECT_EQ(fileLines("j.jsonl").size(), 2u);
}

TEST(StationModel, TwoStationsOverTheSamePhonesServeEachPhoneOnce) {
    StationRig rig(3);
    SimPlaceLocks places;
    StationBindings bindings = engineBindings(rig, nullptr, &places);
    // Woken by either station as it goes.
    struct Nudges final : StationFace {
        void stationLine(const Message& /*message*/) override { nudge(); }
        void tick(StationEngine& /*engine*/) override { nudge(); }
        void nudge() {
            std::lock_guard lock(mutex);
            nudged.notify_all();
        }
        std::mutex mutex;
        std::condition_variable nudged;
    } nudges;
    std::vector<std::unique_ptr<StationEngine>> engines;
    std::vector<std::thread> workers;
    for (int i = 0; i < 2; ++i) {
        engines.push_back(std::make_unique<StationEngine>(
            bindings, planOf({"read", "pds", "-o", "pds.bin"}), &nudges));
    }
    for (auto& engine : engines) workers.emplace_back([&engine] { engine->run(); });
    // Each phone is served by one station and told as another program's by the other.
    const auto servedAndRefused = [&] {
        const StationStatus a = engines[0]->snapshot();
        const StationStatus b = engines[1]->snapshot();
        return a.done + b.done == 3 && a.stationLines.size() + b.stationLines.size() == 3;
    };
    {
        std::unique_lock lock(nudges.mutex);
        EXPECT_TRUE(nudges.nudged.wait_for(lock, std::chrono::seconds(10), servedAndRefused));
    }
    for (auto& engine : engines) engine->requestStop();
    for (std::thread& worker : workers) worker.join();
    std::set<std::string> served;
    for (int i = 0; i < 2; ++i) {
        const StationStatus status = engines[i]->snapshot();
        for (const PhoneRow& row : status.rows) served.insert(row.place);
        for (const Message& line : status.stationLines) {
            EXPECT_EQ(line.id, MessageId::servedElsewhere);
            const StationStatus other = engines[1 - i]->snapshot();
            EXPECT_TRUE(std::any_of(other.rows.begin(), other.rows.end(), [&](const PhoneRow& row) {
                return Message(MessageId::servedElsewhere, MessageDetail::name(row.place)) == line;
            }));
        }
    }
    EXPECT_EQ(served, (std::set<std::string>{"1-1.1", "1-1.2", "1-1.3"}));
    EXPECT_EQ(engines[0]->snapshot().done + engines[1]->snapshot().done, 3u);
    rig.cli.driver.detachAll();
    rig.cli.threads.joinAll();
}

TEST(StationModel, ATransfersRateAndTimeLeftWaitForSomeTimeAndBytes) {
    EXPECT_EQ((PhoneTransfer{0, 1000, 5000}.bytesPerSecond()), std::nullopt);
    EXPECT_EQ((PhoneTransfer{100, 1000, 199}.secondsLeft()), std::nullopt);
    EXPECT_EQ((PhoneTransfer{4096, 65536, 2000}.bytesPerSecond()), 2048u);
    EXPECT_EQ((PhoneTransfer{4096, 65536, 2000}.secondsLeft()), 30u);
    EXPECT_EQ((PhoneTransfer{65536, 65536, 2000}.secondsLeft()), 0u);
}

}  // namespace
}  // namespace norvale
