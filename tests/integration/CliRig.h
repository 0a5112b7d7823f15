// norvale-cli run in-process against a simulated phone, with its console captured.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OperationsRig.h"
#include "cli/CliProgram.h"
#include "platform/Console.h"
#include "sim/HostFileSystem.h"
#include "sim/SimDriver.h"
#include "sim/StdThreadStarter.h"
#include "sim/VirtualClock.h"

namespace norvale::testing {

// The console as a test sees it: what each stream got, a terminal or not, the user's language,
// and a Ctrl+C the test presses.
class FakeConsole final : public Console {
public:
    // A station's sessions write from their threads.
    void write(ConsoleStream stream, std::string_view text) override {
        std::lock_guard lock(mutex_);
        (stream == ConsoleStream::output ? out : err) += text;
    }
    bool isTerminal(ConsoleStream /*stream*/) const override { return terminal; }
    unsigned width() const override { return 100; }
    std::string language() const override { return userLanguage; }
    std::string nativeToUtf8(std::string_view text) const override { return std::string(text); }
    void watchInterrupt(std::atomic<bool>* flag) override { watched_ = flag; }
    bool enableCursorMoves() override { return terminal; }

    void pressCtrlC() {
        ASSERT_NE(watched_.load(), nullptr) << "no interrupt watch while a command runs";
        watched_.load()->store(true);
        interrupted_.store(true);
    }
    bool interrupted() const { return interrupted_.load(); }

    std::string out;
    std::string err;
    bool terminal = false;
    std::string userLanguage = "en";

private:
    std::mutex mutex_;
    std::atomic<std::atomic<bool>*> watched_{nullptr};
    std::atomic<bool> interrupted_{false};
};

// A scratch working folder with the loader images and KESTRIN.ini, the simulated driver with one
// phone on the driver road, and runCli over them. The roads are the test's own simulator, so its
// flash outlives a run and its trace shows every request; `roadsOpened` counts the runs that got
// as far as opening them. With `usbPort` set, a run goes without --sim and its USB road is that
// port.
class CliRig {
public:
    CliRig() : previous_(std::filesystem::current_path()) {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        folder = std::filesystem::temp_directory_path() /
                 ("norvale-cli-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(folder / "bin");
        std::filesystem::current_path(folder);
        putFile("bin/loader.bin", patternImage(3000, 0x11));
        putFile("bin/LTE2_jump.bin", jumpImage);
        putFile("bin/ram.bin", patternImage(2048, 0x33));
        putFile("KESTRIN.ini", {'C', 'G', '1', 'A', 'D', 'R', '=', '1', '0', '0', 'A', '0', '0',
                                '0', '0', '\r', '\n'});
        phoneId = driver.attach();
    }
    ~CliRig() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(folder, ignored);
    }
    CliRig(const CliRig&) = delete;
    CliRig& operator=(const CliRig&) = delete;

    struct Result {
        int code = -1;
        std::string out;
        std::string err;
    };

    // One run of norvale-cli with `args`, from the working folder as it is now.
    Result run(std::vector<std::string> args, FileSystem* fileSystem = nullptr) {
        console.out.clear();
        console.err.clear();
        CliBindings bindings{console, fileSystem ? *fileSystem : files, clock, threads,
                             [this](bool simulated) -> std::shared_ptr<PhoneRoads> {
                                 ++roadsOpened;
                                 EXPECT_EQ(simulated, usbPort == nullptr)
                                     << "--sim unless a real USB port is given";
                                 return std::make_shared<PhoneRoads>(
                                     PhoneRoads{driverPort ? *driverPort : driver, driver, driver,
                                                usbPort ? *usbPort : driver});
                             }};
        if (usbPort == nullptr) args.insert(args.begin(), "--sim");
        const int code = runCli(args, bindings);
        threads.joinAll();
        return {code, console.out, console.err};
    }

    Bytes flash(std::uint32_t address, std::size_t count) {
        return driver.withPhone(
            phoneId, [&](const SimPhone& phone) { return phone.readFlash(address, count); });
    }

    // How many times the trace shows `line`.
    std::size_t traceCount(const std::string& line) const {
        const auto trace = driver.trace();
        return static_cast<std::size_t>(std::count(trace.begin(), trace.end(), line));
    }

    const Bytes jumpImage = patternImage(100, 0x22);
    std::filesystem::path folder;
    VirtualClock clock;
    SimDriver driver{clock};
    HostFileSystem files{FileNameStyle::posix};  // names as norvale-cli on Linux shows them
    StdThreadStarter threads;
    FakeConsole console;
    SimInterfaceId phoneId = 0;
    int roadsOpened = 0;
    DriverPort* driverPort = nullptr;  // stands in front of the simulated driver when set
    UsbPort* usbPort = nullptr;        // the USB road of a run without --sim, when set

private:
    std::filesystem::path previous_;
};

}  // namespace norvale::testing
