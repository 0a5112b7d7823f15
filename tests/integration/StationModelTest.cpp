// The station engine's model of each phone against simulated phones, as any face relies on it:
// the engine runs on a worker thread as a window runs it, and the test reads what a face reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "StationRig.h"
#include "core/MessageCatalogue.h"
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
    };

    void stationLine(const Message& message) override {
        std::lock_guard lock(mutex_);
        stationLines.push_back(message);
    }
    void watching(StationEngine& engine) override { engine_ = &engine; }
    void phoneLine(std::size_t arrival, const Message& message) override {
        const StationStatus status = engine_->snapshot();
        const PhoneRow& row = status.rows.at(arrival - 1);
        std::lock_guard lock(mutex_);
        lines.push_back({arrival, message.id, row.step, row.command});
        if (onLine) onLine(*engine_, arrival, message);
    }

    // Called on the phone's thread after each of its lines was recorded.
    std::function<void(StationEngine&, std::size_t, const Message&)> onLine;
    std::vector<Message> stationLines;
    std::vector<Line> lines;

private:
    std::mutex mutex_;
    StationEngine* engine_ = nullptr;
};

// The engine over `args` (after "--station --sim"), with no console: run on a worker thread, the
// phones pulled out once it has ended.
struct EngineRun {
    int code = -1;
    StationStatus status;
    std::vector<std::vector<Message>> logs;  // by arrival, from 1
};

EngineRun runEngine(StationRig& rig, std::vector<std::string> args, StationFace* face,
                    const std::function<void(StationEngine&)>& before = {},
                    int* roadsOpened = nullptr) {
    args.insert(args.begin(), {"--station", "--sim"});
    const CommandLine line = parseCommandLine(args);
    EXPECT_EQ(line.kind, CommandLine::Kind::run) << line.detail;
    StationBindings bindings{rig.cli.files,
                             rig.cli.clock,
                             rig.cli.threads,
                             [&rig, roadsOpened](bool /*simulated*/) {
                                 if (roadsOpened != nullptr) ++*roadsOpened;
                                 CliRig& cli = rig.cli;
                                 return std::make_shared<PhoneRoads>(
                                     PhoneRoads{cli.driver, cli.driver, cli.driver, cli.driver});
                             },
                             [](std::string_view text) { return std::string(text); },
                             Language::english,
                             [] { return kStationTime; }};
    EngineRun result;
    StationEngine engine(bindings, stationPlan(line), face);
    if (before) before(engine);
    std::thread worker([&] { result.code = static_cast<int>(engine.run()); });
    worker.join();
    rig.cli.driver.detachAll();
    rig.cli.threads.joinAll();
    result.status = engine.snapshot();
    result.logs.emplace_back();
    for (std::size_t arrival = 1; arrival <= result.status.rows.size(); ++arrival) {
        result.logs.push_back(engine.logOf(arrival));
    }
    return result;
}

PhoneRow doneRow(std::size_t arrival, std::size_t steps, std::string command,
                 std::size_t logLines) {
    PhoneRow row;
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
        const std::vector<Message>& log = run.logs[k];
        EXPECT_EQ(run.status.rows[k - 1], doneRow(k, 2, "start", log.size()));
        // Its log is the lines the face was told for it, each under the step it belongs to.
        std::vector<MessageId> told;
        for (const RecordingFace::Line& line : face.lines) {
            if (line.arrival != k) continue;
            told.push_back(line.id);
            using Under = std::pair<std::size_t, std::string>;
            const Under under{line.step, line.command};
            if (line.id == MessageId::phoneConnected) EXPECT_EQ(under, Under(0, ""));
            if (line.id == MessageId::readingBlock) EXPECT_EQ(under, Under(1, "read"));
            if (line.id == MessageId::startingPhone) EXPECT_EQ(under, Under(2, "start"));
        }
        std::vector<MessageId> logged;
        for (const Message& message : log) logged.push_back(message.id);
        EXPECT_EQ(logged, told);
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
    const EngineRun run = runEngine(rig, {"--count", "3", "read", "pds", "-o", "pds.bin"}, nullptr);

    EXPECT_EQ(run.code, 6);
    EXPECT_EQ(run.status.done, 2u);
    EXPECT_EQ(run.status.failed, 1u);
    ASSERT_EQ(run.status.rows.size(), 3u);
    // Arrival order is the order the phones were seen; find phone 2's row by its place.
    for (const PhoneRow& row : run.status.rows) {
        SCOPED_TRACE(row.place);
        if (row.place != "1-1.2") {
            EXPECT_EQ(row, doneRow(row.arrival, 1, "read", run.logs[row.arrival].size()))
                << row.place;
            continue;
        }
        PhoneRow failed = doneRow(row.arrival, 1, "read", run.logs[row.arrival].size());
        failed.place = "1-1.2";
        failed.state = PhoneRow::State::failed;
        failed.reasonId = MessageId::noAnswer;
        failed.reason = "no connection with the phone";
        EXPECT_EQ(row, failed);
        // Its last error line is the reason; its removal is told after it.
        const std::vector<Message>& log = run.logs[row.arrival];
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

TEST(StationModel, ATransfersRateAndTimeLeftWaitForSomeTimeAndBytes) {
    EXPECT_EQ((PhoneTransfer{0, 1000, 5000}.bytesPerSecond()), std::nullopt);
    EXPECT_EQ((PhoneTransfer{100, 1000, 199}.secondsLeft()), std::nullopt);
    EXPECT_EQ((PhoneTransfer{4096, 65536, 2000}.bytesPerSecond()), 2048u);
    EXPECT_EQ((PhoneTransfer{4096, 65536, 2000}.secondsLeft()), 30u);
    EXPECT_EQ((PhoneTransfer{65536, 65536, 2000}.secondsLeft()), 0u);
}

}  // namespace
}  // namespace norvale
