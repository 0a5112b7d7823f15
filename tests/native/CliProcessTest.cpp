// The built norvale-cli as a shell runs it: --sim with the simulator's environment variables, exit
// statuses, files checked by the system's own sha256sum, and a real SIGINT in the middle of a dump.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/PosixNamedLocks.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void putText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string madeUpBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 16);
    }
    return bytes;
}

// A working folder with loader images; the program runs there with its output in files.
class CliProcess : public ::testing::Test {
protected:
    CliProcess() {
        folder_ = fs::temp_directory_path() /
                  ("norvale-cli-process-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "bin");
        putText(folder_ / "bin/loader.bin", madeUpBytes(5000, 1));
        putText(folder_ / "bin/LTE2_jump.bin", madeUpBytes(1024, 2));
        putText(folder_ / "bin/ram.bin", madeUpBytes(2048, 3));
    }
    ~CliProcess() override { fs::remove_all(folder_); }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Starts the program in the folder with `args` and extra environment entries.
    pid_t start(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
        std::vector<std::string> environment{"LANG=C", "LC_ALL=", "LC_MESSAGES=",
                                             "NORVALE_SIM_TRACE=" + (folder_ / "trace").string()};
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text(*entry);
            if (text.rfind("LANG=", 0) != 0 && text.rfind("LC_", 0) != 0 &&
                text.rfind("NORVALE_SIM_", 0) != 0) {
                environment.push_back(text);
            }
        }
        environment.insert(environment.end(), env.begin(), env.end());
        std::vector<std::string> argv{NORVALE_CLI_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string out = (folder_ / "stdout").string();
        const std::string err = (folder_ / "stderr").string();
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        pid_t pid = 0;
        const fs::path previous = fs::current_path();
        fs::current_path(folder_);
        const int failed = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr,
                                       pointers(argv).data(), pointers(environment).data());
        fs::current_path(previous);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(failed, 0) << "could not start " << argv[0];
        return pid;
    }

    static int exitStatus(pid_t pid) {
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    int run(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
        return exitStatus(start(args, env));
    }

    std::string out() const { return fileText(folder_ / "stdout"); }
    std::string err() const { return fileText(folder_ / "stderr"); }
    fs::path folder_;

private:
    static std::vector<char*> pointers(std::vector<std::string>& texts) {
        std::vector<char*> list;
        list.reserve(texts.size() + 1);
        for (std::string& text : texts) list.push_back(text.data());
        list.push_back(nullptr);
        return list;
    }
};

TEST_F(CliProcess, BackupWriteAndReadBackInOneRunWithChecksumsSha256sumAccepts) {
    const std::string image = madeUpBytes(0x10000, 7);
    putText(folder_ / "new.bin", image);
    EXPECT_EQ(run({"--sim", "-q", "backup", "before", "write", "pds", "new.bin", "read", "pds",
                   "-o", "back.bin"}),
              0)
        << err();
    EXPECT_EQ(out(), "");
    EXPECT_EQ(fileText(folder_ / "back.bin"), image);
    const std::string check = "cd '" + (folder_ / "before").string() +
                              "' && sha256sum --check --strict --quiet SHA256SUMS";
    EXPECT_EQ(std::system(check.c_str()), 0);  // NOLINT(concurrency-mt-unsafe): one thread
    EXPECT_EQ(fs::file_size(folder_ / "before" / "Panic.bin"), 0x20000u);
    const std::string trace = fileText(folder_ / "trace");
    EXPECT_EQ(trace.substr(0, trace.find('\n')), "# road driver");
}

TEST_F(CliProcess, FaultsFromTheEnvironmentGiveTheirExitStatuses) {
    putText(folder_ / "new.bin", madeUpBytes(0x10000, 9));
    EXPECT_EQ(
        run({"--sim", "-q", "write", "pds", "new.bin"}, {"NORVALE_SIM_FAULTS=stuck@1001FFFF"}), 5);
    EXPECT_EQ(err(), "ERROR - the written data differ from the image at address 10018000\n");
    EXPECT_EQ(run({"--sim", "-q", "read", "pds"},
                  {"NORVALE_SIM_ROAD=usb", "NORVALE_SIM_FAULTS=unplug@30"}),
              2);
    EXPECT_EQ(err(), "ERROR - no connection with the phone\n");
    // Refused before the simulator is even made: no trace file.
    fs::remove(folder_ / "trace");
    EXPECT_EQ(run({"--sim", "read", "1001FFFF-10010000"}), 1);
    EXPECT_EQ(err(), "ERROR - invalid address range: 1001FFFF-10010000\n");
    EXPECT_FALSE(fs::exists(folder_ / "trace"));
}

TEST_F(CliProcess, SigintStopsADumpWhichKeepsWhatArrivedAndEndsTheLoadersRead) {
    // 64 MB with every reply traced in hex: seconds, time enough to interrupt it.
    const pid_t pid = start({"--sim", "-q", "read", "10000000-13FFFFFF", "-o", "all.bin"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        std::error_code missing;
        const auto size = fs::file_size(folder_ / "all.bin.part", missing);
        if ((!missing && size >= 65536) || std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    EXPECT_EQ(exitStatus(pid), 130);
    // What arrived stays under the name that says the dump is not whole.
    EXPECT_FALSE(fs::exists(folder_ / "all.bin"));
    const auto saved = fs::file_size(folder_ / "all.bin.part");
    EXPECT_LT(saved, 0x4000000u);
    EXPECT_EQ(err(), "ERROR - stopped by the operator, bytes saved: " + std::to_string(saved) +
                         " in the file all.bin.part\n");
    std::string trace = fileText(folder_ / "trace");
    trace.pop_back();
    EXPECT_EQ(trace.substr(trace.rfind('\n') + 1), "W 2 5a");
}

// A phone that stops answering in the middle of a dump: Ctrl+C cuts the transfer it hangs in, so
// the program ends at once rather than after the read's wait, on either road, every time.
TEST_F(CliProcess, SigintWithAPhoneThatNeverAnswersEndsAtOnceEveryTime) {
    for (int n = 0; n < 6; ++n) {
        SCOPED_TRACE("run " + std::to_string(n + 1));
        fs::remove(folder_ / "trace");
        const pid_t pid = start({"--sim", "-q", "read", "pds", "-o", "pds.bin"},
                                {n % 2 == 0 ? "NORVALE_SIM_ROAD=usb" : "NORVALE_SIM_ROAD=driver",
                                 "NORVALE_SIM_FAULTS=hang@30"});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (fileText(folder_ / "trace").find(" FAIL\n") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const auto stopped = std::chrono::steady_clock::now();
        ASSERT_EQ(::kill(pid, SIGINT), 0);
        EXPECT_EQ(exitStatus(pid), 130);
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(2));
        // Four replies came before the one that never does; the loader's read is ended after.
        EXPECT_EQ(err(),
                  "ERROR - stopped by the operator, bytes saved: 16384 in the file pds.bin.part\n");
        EXPECT_FALSE(fs::exists(folder_ / "pds.bin"));
        std::string trace = fileText(folder_ / "trace");
        ASSERT_FALSE(trace.empty());
        trace.pop_back();
        EXPECT_EQ(trace.substr(trace.rfind('\n') + 1), "W 2 5a");
        fs::remove(folder_ / "pds.bin.part");
        if (HasFailure()) break;
    }
}

// Two programs of one computer share the places' locks: while one holds a place, another process
// is refused it as held elsewhere (not as no lock to be had), and takes it once the holder has
// let it go; a holder that ends, however, leaves no lock behind.
TEST_F(CliProcess, APlaceHeldByOneProgramIsRefusedToAnotherUntilItGoes) {
    const std::string folder = (folder_ / "locks").string();
    PosixNamedLocks mine(folder);
    // What another process finds for `name`: 0 held by it, 1 held elsewhere, 2 no lock at all.
    const auto another = [&](const std::string& name) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            PosixNamedLocks theirs(folder);
            const LockAttempt attempt = theirs.tryHold(name);
            ::_exit(attempt.hold ? 0 : attempt.heldElsewhere ? 1 : 2);
        }
        return exitStatus(pid);
    };
    LockAttempt held = mine.tryHold("1-1.3");
    ASSERT_TRUE(held.hold);
    EXPECT_EQ(another("1-1.3"), 1);
    EXPECT_TRUE(mine.tryHold("1-1.3").heldElsewhere);  // nor twice in one process
    EXPECT_EQ(another("1-1.4"), 0);
    EXPECT_TRUE(mine.tryHold("1-1.4").hold);  // the process that held it has ended
    held.hold.reset();
    EXPECT_EQ(another("1-1.3"), 0);
}

// A station ends with its own exit status in every run, however its phones ended: a thread of
// the station's that outlived it (a watcher's removal wait, a phone's session) would use what
// the station freed, which this build's AddressSanitizer reports and a plain build may crash on.
// Each story is run many times, since such a thread meets freed memory only when it wakes late,
// the runs taking turns on the maker's driver and on the USB road.
class StationProcess : public CliProcess {
protected:
    static constexpr int kRuns = 20;

    StationProcess() { putText(folder_ / "new.bin", madeUpBytes(0x10000, 11)); }

    static std::size_t lineCount(const std::string& text) {
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }
    // Three phones, each backed up and given new.bin, verified; `journal` gets their lines.
    static std::vector<std::string> chain(const std::string& journal) {
        return {"--sim", "--station", "-q",    "--count", "3",      "--journal",
                journal, "backup",    "write", "pds",     "new.bin"};
    }
    // Run `n`'s road, three phones on it, and `more`.
    static std::vector<std::string> phones(int n, std::vector<std::string> more = {}) {
        more.push_back(n % 2 == 0 ? "NORVALE_SIM_ROAD=driver" : "NORVALE_SIM_ROAD=usb");
        more.push_back("NORVALE_SIM_PHONES=3");
        return more;
    }
    // Where phone 2 of run `n` is, as its lines name it.
    // Both roads name a phone by its socket.
    static std::string secondPhone(int) { return "sim-2"; }
};

TEST_F(StationProcess, ThreePhonesDoneEndTheStationWithZeroEveryTime) {
    for (int n = 0; n < kRuns; ++n) {
        SCOPED_TRACE("run " + std::to_string(n + 1));
        const std::string journal = "done-" + std::to_string(n) + ".jsonl";
        EXPECT_EQ(run(chain(journal), phones(n)), 0);
        EXPECT_EQ(err(), "");
        EXPECT_EQ(lineCount(fileText(folder_ / journal)), 3u);
        if (HasFailure()) break;
    }
}

TEST_F(StationProcess, APhoneThatFailsEndsTheStationWithSixEveryTime) {
    for (int n = 0; n < kRuns; ++n) {
        SCOPED_TRACE("run " + std::to_string(n + 1));
        const std::string journal = "fault-" + std::to_string(n) + ".jsonl";
        // Phone 2 is pulled out in the middle of its backup's first dump.
        EXPECT_EQ(run(chain(journal), phones(n, {"NORVALE_SIM_FAULTS=2:unplug@30"})), 6);
        EXPECT_EQ(err(), "[" + secondPhone(n) + "] ERROR - no connection with the phone\n");
        EXPECT_EQ(lineCount(fileText(folder_ / journal)), 3u);
        if (HasFailure()) break;
    }
}

TEST_F(StationProcess, CtrlCWhileThePhonesStayAttachedEndsTheStationWith130EveryTime) {
    for (int n = 0; n < kRuns; ++n) {
        SCOPED_TRACE("run " + std::to_string(n + 1));
        const std::string journal = "stop-" + std::to_string(n) + ".jsonl";
        // No --count: the station waits for more phones, watching the three it served, until
        // the operator stops it.
        std::vector<std::string> args = chain(journal);
        args.erase(args.begin() + 3, args.begin() + 5);
        const pid_t pid = start(args, phones(n));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (lineCount(fileText(folder_ / journal)) < 3 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(::kill(pid, SIGINT), 0);
        EXPECT_EQ(exitStatus(pid), 130);
        EXPECT_EQ(err(), "");
        EXPECT_EQ(lineCount(fileText(folder_ / journal)), 3u);
        if (HasFailure()) break;
    }
}

// Two phones that stop answering, one in its backup's first dump, the other in the middle of
// writing its PDS: SIGINT cuts both hung transfers, so the station ends at once with 130 rather
// than after their minute's wait; the journal names the command each stopped in, and the phone
// whose flash was written in part says it needs the write again.
TEST_F(StationProcess, SigintWithPhonesThatNeverAnswerEndsAtOnceAndTellsAnInterruptedWrite) {
    const pid_t pid = start({"--sim", "--station", "-q", "--journal", "hung.jsonl", "backup",
                             "write", "pds", "new.bin"},
                            {"NORVALE_SIM_ROAD=usb", "NORVALE_SIM_PHONES=2",
                             // Phone 1's 40th transfer is a reply of Boot's dump; phone 2's 149th
                             // the reply to the third chunk of its first PDS block.
                             "NORVALE_SIM_FAULTS=1:hang@40,2:hang@149"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const auto hung = [&](int k) {
        return fileText(folder_ / ("trace-" + std::to_string(k))).find(" FAIL\n") !=
               std::string::npos;
    };
    while (!(hung(1) && hung(2)) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(hung(1) && hung(2));
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    EXPECT_EQ(exitStatus(pid), 130);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(2));
    EXPECT_NE(err().find("[sim-2] ERROR - writing interrupted: the phone's flash is incomplete "
                         "and must be written again\n"),
              std::string::npos)
        << err();

    std::map<std::string, nlohmann::json> byPlace;
    std::istringstream journal(fileText(folder_ / "hung.jsonl"));
    for (std::string line; std::getline(journal, line);) {
        const nlohmann::json record = nlohmann::json::parse(line);
        byPlace[record["location"].get<std::string>()] = record;
    }
    ASSERT_EQ(byPlace.size(), 2u);
    const nlohmann::json& reading = byPlace["sim-1"];
    EXPECT_EQ(reading["commands"][0]["result"], "stopped");
    EXPECT_EQ(reading["commands"][1]["result"], "not_run");
    EXPECT_EQ(reading["reason"], "read_stopped_by_operator");
    EXPECT_EQ(reading["exit_code"], 130);
    const nlohmann::json& writing = byPlace["sim-2"];
    EXPECT_EQ(writing["commands"][0]["result"], "done");
    EXPECT_EQ(writing["commands"][1]["result"], "stopped");
    EXPECT_EQ(writing["reason"], "write_interrupted");
    EXPECT_EQ(writing["exit_code"], 130);
}

// A line's shift as the programs run it: a recipe made, three phones served by it, one failing,
// then the shift's report, its page well-formed XML (its SVG charts with it) as xmllint reads it.
TEST_F(StationProcess, ARecipesShiftAndItsReportWithAWellFormedPage) {
    ASSERT_EQ(run({"recipe", "make", "-o", "line.toml", "--journal", "shift.jsonl", "write", "pds",
                   "new.bin"}),
              0)
        << err();
    EXPECT_EQ(run({"--sim", "--station", "-q", "--count", "3", "--recipe", "line.toml"},
                  phones(1, {"NORVALE_SIM_FAULTS=2:unplug@30"})),
              6);
    EXPECT_EQ(lineCount(fileText(folder_ / "shift.jsonl")), 3u);
    EXPECT_EQ(run({"report", "shift.jsonl", "--html", "shift.html", "--csv", "shift.csv"}), 0)
        << err();
    EXPECT_NE(out().find("\n  sim-2        1     0       1        0        100.0%\n"),
              std::string::npos)
        << out();
    EXPECT_NE(out().find("\n  line.toml "), std::string::npos);
    EXPECT_EQ(lineCount(fileText(folder_ / "shift.csv")), 4u);
    const std::string lint = "xmllint --noout '" + (folder_ / "shift.html").string() + "'";
    EXPECT_EQ(std::system(lint.c_str()), 0);  // NOLINT(concurrency-mt-unsafe): one thread
    EXPECT_NE(fileText(folder_ / "shift.html").find("<svg xmlns=\"http://www.w3.org/2000/svg\""),
              std::string::npos);
}

}  // namespace
}  // namespace norvale
