// The fault matrix: every command button, first in a run and later, with the phone pulled, a reply
// lost or a transfer hung at each of its transfers in turn. Whatever happens, "Успешно" is said
// only for work that was done, a failure is said once, and nothing is lost, leaked or touched.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "OperationsRig.h"
#include "operations/DumpFileName.h"
#include "ui/CommandBodies.h"
#include "ui/MainDialog.h"
#include "ui/resources/resource.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define NORVALE_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define NORVALE_LEAK_CHECK 1
#endif
#endif

namespace norvale {
namespace {

using namespace norvale::testing;
using namespace std::chrono_literals;

// ---- The trace, read back -------------------------------------------------------------------

bool isRead(const std::string& line) { return line.rfind("R 2 ", 0) == 0; }
bool isFailed(const std::string& line) {
    return line.size() >= 5 && line.compare(line.size() - 5, 5, " FAIL") == 0;
}

Bytes fromHex(std::string_view hex) {
    Bytes bytes(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] =
            static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    }
    return bytes;
}

// The data a completed read delivered: "R 2 <max> <hex>", or nothing for "R 2 <max>".
Bytes readData(const std::string& line) {
    const std::size_t last = line.rfind(' ');
    if (last <= 3 || line.find(' ', 4) == std::string::npos) return {};
    return fromHex(std::string_view(line).substr(last + 1));
}
bool isEmptyRead(const std::string& line) {
    return isRead(line) && !isFailed(line) && line.find(' ', 4) == std::string::npos;
}

// The bootstrap ends with the RAM loader's 12-byte reply; what follows is the command's body.
std::size_t bodyStart(const std::vector<std::string>& trace) {
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (trace[i].rfind("R 2 12", 0) == 0) return i + 1;
    }
    return trace.size();
}

// ---- The seven commands ---------------------------------------------------------------------

enum class Kind { write, blank, read, start };

struct Command {
    const char* name;
    std::uintptr_t button;
    Kind kind;
    std::size_t imageSize = 0;  // writes: the operator's image
    const char* start = "10010000";
    const char* end = "1001FFFF";
    // Writes: where the image's bytes go, as (flash address, image offset, length).
    std::vector<std::array<std::uint32_t, 3>> placement{};
};

const Command kCommands[] = {
    {"writePds",
     IDC_WRITE_PDS,
     Kind::write,
     0x10000,
     "10010000",
     "1001FFFF",
     {{0x10010000, 0, 0x10000}}},
    // A short last chunk: the Boot image of 0xFF00 bytes.
    {"writeBoot",
     IDC_WRITE_BOOT,
     Kind::write,
     0xFF00,
     "10010000",
     "1001FFFF",
     {{0x10000000, 0, 0xFF00}}},
    {"writePanic",
     IDC_WRITE_PANIC,
     Kind::write,
     0x20000,
     "10010000",
     "1001FFFF",
     {{0x10020000, 0, 0x20000}}},
    // A small block and a large one, unaligned.
    {"writeBlockRange",
     IDC_WRITE_BLOCK_RANGE,
     Kind::write,
     0x28000,
     "1001C000",
     "10030000",
     {{0x1001C000, 0, 0x8000}, {0x10024000, 0x8000, 0x20000}}},
    {"setBlankMode", IDC_BLANK_MODE, Kind::blank},
    // Fifteen whole replies and a half one.
    {"readRangeToFile", IDC_READ_RANGE, Kind::read, 0, "10010000", "1001F7FF"},
    {"startPhone", IDC_START_PHONE, Kind::start},
};

std::string_view successText(const Command& command) {
    return command.kind == Kind::blank ? text::kSettingBlank.view() : text::kSuccess.view();
}

std::string dumpName(const Command& command) {
    return dumpFileName(command.start, command.end, parseHexAddress(command.start),
                        parseHexAddress(command.end));
}

// ---- One scenario ---------------------------------------------------------------------------

struct Fault {
    SimFaultKind kind;
    std::uint64_t transfer;  // counted from the command's first transfer, from 1
};

std::string describe(const std::optional<Fault>& fault) {
    if (!fault) return "clean";
    return std::string(simFaultName(fault->kind)) + "@" + std::to_string(fault->transfer);
}

using FileSnapshot = std::map<std::string, Bytes>;

FileSnapshot snapshot() {
    FileSnapshot files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(".")) {
        if (entry.is_regular_file()) files[entry.path().generic_string()] = fileBytes(entry.path());
    }
    return files;
}

// What a run left: the command's transfers and log appends, and the virtual time it took.
struct CommandRun {
    std::vector<std::string> trace;
    std::vector<TranscriptLog::Append> appends;  // traceLines counted from the command's start
    std::uint64_t elapsedMs = 0;
};

// A fresh phone, folder and session per scenario, driven as the operator drives it: a click on
// the UI thread, the command on a worker thread of its own.
class Scenario {
public:
    explicit Scenario(const Command& command) : command_(command) {
        putFile("notes.txt", patternImage(777, 0x44));
        putFile("KESTRIN.ini",
                Bytes{'C', 'G', '1', 'A', 'D', 'R', '=', '1', '0', '0', 'A', '0', '0', '0', '0'});
        if (command.kind == Kind::write) {
            image_ = patternImage(command.imageSize, 0x5A);
            putFile("customer.img", image_);
        }
    }

    // A clean command before the one under test, so that it runs as a later one: the jump stage
    // is done and the loader goes to its second address. Its dump stays as a bystander.
    void runEarlierCommand() {
        rig_.fields("13FFFFFF", "13FFFFFF");
        const CommandRun earlier = click(IDC_READ_RANGE);
        ASSERT_FALSE(earlier.appends.empty());
        ASSERT_EQ(earlier.appends.back().text, text::kSuccess.view());
        ASSERT_TRUE(rig_.state.jumpStageDone.load());
    }

    CommandRun run(const std::optional<Fault>& fault) {
        rig_.fields(command_.start, command_.end);
        if (command_.kind == Kind::write) rig_.sim.chooser.choose("customer.img");
        before_ = snapshot();
        if (fault) {
            rig_.sim.driver.addFault(fault->kind,
                                     rig_.sim.driver.pipeTransfers() + fault->transfer);
        }
        CommandRun run = click(command_.button);
        rig_.sim.driver.clearFaults();
        return run;
    }

    // Every promise of a command under faults, checked on one run.
    void check(const CommandRun& run, const std::optional<Fault>& fault, std::uint64_t cleanMs) {
        const std::vector<std::string>& trace = run.trace;
        const std::size_t body = bodyStart(trace);

        // What the trace says went wrong: the first transfer that did not complete, or a reply
        // of the command's body that came without data (the bootstrap's replies only pace it).
        std::optional<std::size_t> failedAt;
        std::optional<std::size_t> emptyAt;
        for (std::size_t i = 0; i < trace.size() && !failedAt && !emptyAt; ++i) {
            if (isFailed(trace[i])) {
                failedAt = i;
            } else if (i >= body && isEmptyRead(trace[i])) {
                emptyAt = i;
            }
        }
        const bool shouldFail = failedAt || emptyAt;

        std::vector<const TranscriptLog::Append*> errors;
        std::vector<const TranscriptLog::Append*> successes;
        for (const TranscriptLog::Append& append : run.appends) {
            if (append.text.rfind(text::kErrorPrefix.view(), 0) == 0) errors.push_back(&append);
            if (append.text == successText(command_)) successes.push_back(&append);
        }

        ASSERT_LE(successes.size(), 1u);
        ASSERT_LE(errors.size(), 1u) << "more than one error line";
        if (shouldFail) {
            EXPECT_TRUE(successes.empty()) << "a false success";
            ASSERT_EQ(errors.size(), 1u) << "a failure without its error line";
            const std::size_t at = failedAt ? *failedAt : *emptyAt;
            EXPECT_EQ(errors.front()->text, expectedError(trace, failedAt, emptyAt));
            // Said at once, and nothing more sent; a range read still ends the loader's read.
            EXPECT_EQ(errors.front()->traceLines, at + 1);
            const bool endsRead = emptyAt && command_.kind == Kind::read;
            EXPECT_EQ(trace.size(), at + (endsRead ? 2 : 1)) << "sent on after the failure";
            if (endsRead) {
                EXPECT_EQ(trace.back(), writtenHex("5a"));
            }
        } else {
            // Every transfer completed: the command either did its work or says why not, once.
            EXPECT_EQ(successes.size() + errors.size(), 1u);
        }
        if (!successes.empty()) {
            EXPECT_EQ(successes.front(), &run.appends.back()) << "something after the success";
            EXPECT_EQ(successes.front()->traceLines, trace.size())
                << "success said before the last transfer";
            checkWorkDone();
        }

        // No hang: a hung transfer costs its own wait and nothing else waits.
        const bool hung = fault && fault->kind == SimFaultKind::hang;
        EXPECT_LE(run.elapsedMs, cleanMs + (hung ? 60000u : 0u));

        // Nothing left behind: files closed, no device set, only the session's handle.
        EXPECT_EQ(rig_.sim.files.liveFiles(), 0u);
        const SimEnumerationCounters counters = rig_.sim.driver.counters();
        EXPECT_EQ(counters.liveSets, 0u);
        EXPECT_EQ(counters.liveHandles, 1u);
        EXPECT_EQ(counters.badHandleCloses, 0u);
        EXPECT_EQ(counters.badSetCloses, 0u);

        // Nothing touched but the dump, which holds exactly what the phone delivered.
        const FileSnapshot after = snapshot();
        for (const auto& [name, bytes] : before_) {
            const auto found = after.find(name);
            ASSERT_NE(found, after.end()) << name << " is gone";
            EXPECT_TRUE(found->second == bytes) << name << " was changed";
        }
        Bytes received;
        bool requested = false;
        for (const std::string& line : trace) {
            if (command_.kind != Kind::read || isFailed(line)) continue;
            if (line.rfind("W 2 52", 0) == 0) requested = true;
            if (requested && isRead(line)) {
                const Bytes data = readData(line);
                received.insert(received.end(), data.begin(), data.end());
            }
        }
        // The dump takes its own name only when it holds the whole range.
        std::string dump = "./" + dumpName(command_);
        if (command_.kind == Kind::read && received.size() != rangeSize()) dump += ".part";
        for (const auto& [name, bytes] : after) {
            if (before_.count(name)) continue;
            EXPECT_TRUE(command_.kind == Kind::read && name == dump) << "a new file " << name;
        }
        if (command_.kind == Kind::read && requested) {
            ASSERT_TRUE(after.count(dump)) << "the dump is gone";
            EXPECT_TRUE(after.at(dump) == received)
                << "the dump holds " << after.at(dump).size() << " bytes, " << received.size()
                << " were received";
        }
    }

private:
    CommandRun click(std::uintptr_t button) {
        rig_.sim.driver.clearTrace();
        rig_.log.appends_.clear();
        const std::uint64_t startedAt = rig_.sim.clock.now();
        rig_.view.runOnUiThread([&] { dialog_.onCommand(button); });
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (rig_.state.busy.load()) {
            if (std::chrono::steady_clock::now() > deadline) {
                // The worker can't be joined, and a test that waits for ever tells nothing.
                std::fprintf(stderr, "FaultMatrix: the command %s never ended\n", command_.name);
                std::abort();
            }
            std::this_thread::sleep_for(100us);
        }
        rig_.sim.threads.joinAll();
        return {rig_.sim.driver.trace(), rig_.log.appends_, rig_.sim.clock.now() - startedAt};
    }

    std::string expectedError(const std::vector<std::string>& trace,
                              std::optional<std::size_t> failedAt,
                              std::optional<std::size_t> emptyAt) const {
        if (failedAt) return text::errorLine(text::kNoAnswerFromPhone);
        if (command_.kind == Kind::read) {
            std::uint64_t saved = 0;
            for (std::size_t i = 0; i < *emptyAt; ++i) {
                if (isRead(trace[i]) && trace[i].rfind("R 2 4096", 0) == 0) {
                    saved += readData(trace[i]).size();
                }
            }
            return text::errorLine(
                text::kReadInterrupted,
                std::to_string(saved) + text::kSavedInFile.str() + dumpName(command_) + ".part");
        }
        // The block whose chunk or block reply came empty: the address after its 'F'.
        std::string address;
        for (std::size_t i = 0; i + 1 < *emptyAt; ++i) {
            if (trace[i] == writtenHex("46")) address = trace[i + 1].substr(4);
        }
        return text::errorLine(text::kWriteNotConfirmed,
                               formatHexAddress(parseHexAddress(address)));
    }

    // "Успешно" means the work is on the phone or in the file, not just that bytes went out.
    void checkWorkDone() {
        switch (command_.kind) {
            case Kind::write:
                for (const auto& [address, offset, length] : command_.placement) {
                    EXPECT_TRUE(rig_.flash(address, length) ==
                                Bytes(image_.begin() + offset, image_.begin() + offset + length))
                        << "flash at " << formatHexAddress(address) << " does not hold the image";
                }
                break;
            case Kind::blank: EXPECT_TRUE(rig_.sim.phone().blank()); break;
            case Kind::start: EXPECT_FALSE(rig_.sim.driver.attached(rig_.sim.phoneId)); break;
            case Kind::read:
                EXPECT_TRUE(fileBytes(dumpName(command_)) ==
                            rig_.flash(parseHexAddress(command_.start), rangeSize()))
                    << "the dump is not the flash";
                break;
        }
    }

    std::size_t rangeSize() const {
        return parseHexAddress(command_.end) - parseHexAddress(command_.start) + 1;
    }

    const Command& command_;
    OperationsRig rig_;
    MainDialog dialog_{rig_.services, productCommandBodies(), PresenceHooks{}};
    Bytes image_;
    FileSnapshot before_;
};

// ---- The matrix -----------------------------------------------------------------------------

std::size_t& scenariosRun() {
    static std::size_t count = 0;
    return count;
}

// Prints the total once every test has run, whatever the filter picked.
class ScenarioTally final : public ::testing::Environment {
public:
    void TearDown() override {
        if (scenariosRun() != 0) {
            std::cout << "[ matrix   ] " << scenariosRun() << " fault scenarios run" << std::endl;
        }
    }
};
[[maybe_unused]] ::testing::Environment* const kTally =
    ::testing::AddGlobalTestEnvironment(new ScenarioTally);

struct MatrixCase {
    const Command* command;
    bool later;
};

void PrintTo(const MatrixCase& matrixCase, std::ostream* out) {
    *out << matrixCase.command->name << (matrixCase.later ? ", later" : ", first");
}

class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(FaultMatrix, NoFalseSuccessNothingLostNothingLeft) {
    const Command& command = *GetParam().command;
    const bool later = GetParam().later;

    // The clean run says how many transfers the command makes and which are reads.
    std::vector<std::string> clean;
    std::uint64_t cleanMs = 0;
    {
        SCOPED_TRACE("clean");
        Scenario scenario(command);
        if (later) scenario.runEarlierCommand();
        const CommandRun run = scenario.run(std::nullopt);
        scenario.check(run, std::nullopt, run.elapsedMs);
        ASSERT_FALSE(run.appends.empty());
        ASSERT_EQ(run.appends.back().text, successText(command)) << "the clean run failed";
        for (const std::string& line : run.trace) ASSERT_FALSE(isFailed(line)) << line;
        clean = run.trace;
        cleanMs = run.elapsedMs;
    }

    std::vector<Fault> faults;
    for (std::uint64_t n = 1; n <= clean.size(); ++n) {
        faults.push_back({SimFaultKind::unplug, n});
        if (isRead(clean[n - 1])) {
            faults.push_back({SimFaultKind::nodata, n});
            faults.push_back({SimFaultKind::hang, n});
        }
    }
    std::size_t run = 0;
    std::size_t afterFirstFailure = 0;
    for (const Fault& fault : faults) {
        SCOPED_TRACE(describe(fault) + " (" + clean[fault.transfer - 1].substr(0, 24) + ")");
        Scenario scenario(command);
        if (later) scenario.runEarlierCommand();
        const CommandRun outcome = scenario.run(fault);
        scenario.check(outcome, fault, cleanMs);
        ++run;
        // One broken promise tends to break in every scenario after it; a few tell enough.
        if (HasFailure() && ++afterFirstFailure >= 3) break;
    }
    scenariosRun() += run + 1;
    std::cout << "[ matrix   ] " << command.name << (later ? " later" : " first") << ": "
              << clean.size() << " transfers, " << faults.size() << " fault scenarios" << std::endl;
    RecordProperty("transfers", static_cast<int>(clean.size()));
    RecordProperty("scenarios", static_cast<int>(faults.size()));
#ifdef NORVALE_LEAK_CHECK
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "memory left behind";
#endif
}

std::vector<MatrixCase> allCases() {
    std::vector<MatrixCase> cases;
    for (const bool later : {false, true}) {
        for (const Command& command : kCommands) cases.push_back({&command, later});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultMatrix, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<MatrixCase>& info) {
                             return std::string(info.param.command->name) +
                                    (info.param.later ? "_later" : "_first");
                         });

}  // namespace
}  // namespace norvale
