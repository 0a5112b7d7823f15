// The presence layer over the simulator: a scratch working folder, the dialog's screen in memory
// and a journal of everything shown, in order and with the virtual time it was shown at.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "presence/ConnectionMonitor.h"
#include "protocol/CommandContext.h"
#include "sim/MemoryDialogView.h"
#include "sim/SimPlatform.h"
#include "ui/MainDialog.h"
#include "ui/ViewLog.h"
#include "unit/DialogLogTexts.h"

namespace norvale::presence_testing {

// A fresh folder made the working directory for the life of the object.
class ScratchFolder {
public:
    ScratchFolder() : previous_(std::filesystem::current_path()) {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = std::filesystem::temp_directory_path() /
                ("norvale-presence-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
        std::filesystem::current_path(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::permissions(path_ / "KESTRIN.ini", std::filesystem::perms::owner_all,
                                     ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    void put(const std::string& name, const std::string& bytes) const {
        std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

// Passes everything on to the in-memory screen and notes each log append and status text as
// "<virtual ms> log: <text>" or "<virtual ms> status: <text>". Any thread may use it.
class JournalView final : public DialogView {
public:
    JournalView(MemoryDialogView& screen, VirtualClock& clock) : screen_(screen), clock_(clock) {}

    void appendLog(std::string_view text) override {
        note("log", text);
        screen_.appendLog(text);
    }
    void clearLog() override { screen_.clearLog(); }
    // Not noted: the dialog starts the monitor first, so the bar's creation races its scan.
    void createStatusBar(std::string_view text) override { screen_.createStatusBar(text); }
    void setStatusText(std::string_view text) override {
        note("status", text);
        screen_.setStatusText(text);
    }
    void limitField(AddressField field, unsigned maxChars) override {
        screen_.limitField(field, maxChars);
    }
    void setFieldText(AddressField field, std::string_view text) override {
        screen_.setFieldText(field, text);
    }
    std::string fieldText(AddressField field) override { return screen_.fieldText(field); }
    void sendPresence(std::uintptr_t wParam) override { screen_.sendPresence(wParam); }
    void endDialog(std::intptr_t result) override { screen_.endDialog(result); }

    std::vector<std::string> entries() const {
        const std::lock_guard lock(mutex_);
        return entries_;
    }
    void clear() {
        const std::lock_guard lock(mutex_);
        entries_.clear();
    }

private:
    void note(std::string_view kind, std::string_view text) {
        std::string entry = std::to_string(clock_.now()) + ' ';
        entry += kind;
        entry += ": ";
        entry += text;
        const std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
    }

    MemoryDialogView& screen_;
    VirtualClock& clock_;
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

// A journal entry as the tests write it.
inline std::string at(std::uint64_t ms, std::string_view kind, std::string_view text) {
    return std::to_string(ms) + ' ' + std::string(kind) + ": " + std::string(text);
}
inline std::string logAt(std::uint64_t ms, std::string_view text) { return at(ms, "log", text); }
inline std::string statusAt(std::uint64_t ms, std::string_view text) {
    return at(ms, "status", text);
}
inline std::string line(std::string_view label, std::string_view value) {
    return std::string(label) + std::string(value) + "\r\n";
}

// Everything the presence layer works with. A test that starts threads stops and joins them
// itself before the rig goes, since they use the screen, the journal and the session.
struct PresenceRig {
    explicit PresenceRig(SimPlatform::Phone phone = SimPlatform::Phone::attached) : sim(phone) {}

    ScratchFolder folder;
    SimPlatform sim;
    MemoryDialogView screen;
    JournalView view{screen, sim.clock};
    ViewLog log{view};
    SessionState state;
    Services services{state, log, sim.platform, view};
};

// The programs' wiring over the rig: the dialog's controller with the product's command bodies
// and arrival and removal handling, the product's monitor on its own thread, stepped until the
// test ends, and a worker per click. The working folder holds the loader images (3000-byte
// loader, 100-byte jump image) and KESTRIN.ini with CG1 at 100A0000.
class MonitoredDialog : public ::testing::Test {
protected:
    explicit MonitoredDialog(SimPlatform::Phone attached = SimPlatform::Phone::attached)
        : rig(attached), controller(rig.services, productCommandBodies(), hooks()) {
        phone = rig.sim.driver.phone(rig.sim.phoneId);
        if (!phone) phone = std::make_shared<SimPhone>();
        std::filesystem::create_directory("bin");
        rig.folder.put("bin/loader.bin", std::string(3000, '\x11'));
        rig.folder.put("bin/LTE2_jump.bin", std::string(100, '\x22'));
        rig.folder.put("bin/ram.bin", std::string(2048, '\x33'));
        rig.folder.put("KESTRIN.ini", "CG1ADR=100A0000");
        rig.screen.setPresenceHandler([this](std::uintptr_t w) { controller.onPresence(w); });
        rig.sim.clock.setSleepHook([this](std::uint32_t ms) {
            const std::uint64_t when = attachAt.load();
            if (when != 0 && rig.sim.clock.now() == when) rig.sim.driver.attach({}, phone);
            // Only a hung transfer sleeps in these slices; the monitor's sleeps are 1 and 5 s.
            if (ms == kSimWaitSliceMs) holdIfAsked();
            // Virtual seconds pass at once; this keeps a scanning monitor from spinning.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        });
    }
    ~MonitoredDialog() override {
        stop = true;
        release();
        rig.sim.driver.detachAll();  // wakes a monitor in its removal watch
        rig.sim.threads.joinAll();
    }

    void start() {
        rig.screen.runOnUiThread([this] { controller.onInitDialog(); });
    }
    void click(std::uintptr_t id) {
        rig.screen.runOnUiThread([&] { controller.onCommand(id); });
    }
    // Whether `done` came true within 10 s.
    bool waitUntil(const std::function<bool()>& done) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    bool waitUntilIdle() const {
        return waitUntil([this] { return !rig.state.busy.load(); });
    }
    // An arrival is shown once its last line is in and the monitor watches the phone.
    bool waitForArrivals(std::size_t n) const {
        return waitUntil([&] { return count(text::kCg1Start.view()) >= n; }) &&
               rig.sim.driver.waitForWatchers(1, std::chrono::seconds(10));
    }
    // The log's lines, the empty line of a removal included.
    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        const std::string log = rig.screen.logText();
        for (std::size_t at = 0; at < log.size();) {
            const std::size_t end = log.find("\r\n", at);
            lines.push_back(log.substr(at, end - at + 2));
            at = end + 2;
        }
        return lines;
    }

    // A hung transfer of a worker can be held here until release(), so the test acts while the
    // command is known to be still running.
    void holdHungTransfers() {
        const std::lock_guard lock(holdMutex);
        holding = true;
    }
    bool waitUntilHeld() {
        std::unique_lock lock(holdMutex);
        return holdChanged.wait_for(lock, std::chrono::seconds(10), [&] { return held; });
    }
    void release() {
        {
            const std::lock_guard lock(holdMutex);
            holding = false;
        }
        holdChanged.notify_all();
    }

    // What an arrival and a removal show: in the journal at a virtual time, or as log lines.
    static std::vector<std::string> arrivalAt(std::uint64_t ms, std::string_view boot = "0C60",
                                              std::string_view mode = "FLASH ") {
        return {logAt(ms, text::kPhoneConnected), statusAt(ms, text::kStatusConnected),
                logAt(ms, line(text::kBootVersion, boot)), logAt(ms, line(text::kMode, mode)),
                logAt(ms, line(text::kCg1Start, "100A0000"))};
    }
    static std::vector<std::string> removalAt(std::uint64_t ms) {
        return {logAt(ms, text::kPhoneDisconnected), logAt(ms, "\r\n"),
                statusAt(ms, text::kStatusDisconnected)};
    }
    static std::vector<std::string> arrival() {
        return {text::kPhoneConnected.str(), line(text::kBootVersion, "0C60"),
                line(text::kMode, "FLASH "), line(text::kCg1Start, "100A0000")};
    }
    static std::vector<std::string> removal() { return {text::kPhoneDisconnected.str(), "\r\n"}; }
    // The log lines of a loader bootstrap that brought the RAM loader up.
    static std::vector<std::string> bootstrap() {
        return {text::kSendingLoader.str(), "JMP01\r\n", "RAM LOADER 1\r\n"};
    }
    static std::vector<std::string> joined(std::vector<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    }

    PresenceRig rig;
    // The phone that comes back when (re-)attached; without one at the start, a fresh one.
    std::shared_ptr<SimPhone> phone;
    std::atomic<bool> stop{false};
    // Plugged back in at the next removal: the phone starts afresh in flash mode, its flash kept.
    std::atomic<bool> reattachOnRemoval{false};
    std::atomic<std::uint64_t> attachAt{0};  // plugged in when a sleep ends at this virtual time
    MainDialog controller;

private:
    PresenceHooks hooks() {
        PresenceHooks product = productPresenceHooks(rig.services);
        product.monitor = [this] {
            ConnectionMonitor monitor(rig.sim.platform, rig.view);
            while (!stop) monitor.step();
        };
        product.onRemoval = [this, removal = product.onRemoval] {
            removal();
            if (!reattachOnRemoval.exchange(false)) return;
            // Nothing reaches the phone meanwhile: its old interface is gone and the new one not
            // yet there.
            phone->powerCycle();
            rig.sim.driver.attach({}, phone);
        };
        return product;
    }
    std::size_t count(std::string_view text) const {
        const std::string log = rig.screen.logText();
        std::size_t n = 0;
        for (std::size_t at = log.find(text); at != std::string::npos;
             at = log.find(text, at + 1)) {
            ++n;
        }
        return n;
    }
    void holdIfAsked() {
        std::unique_lock lock(holdMutex);
        if (!holding) return;
        held = true;
        holdChanged.notify_all();
        holdChanged.wait(lock, [&] { return !holding; });
    }

    std::mutex holdMutex;
    std::condition_variable holdChanged;
    bool holding = false;
    bool held = false;
};

}  // namespace norvale::presence_testing
