// The presence layer over the simulator: a scratch working folder, the dialog's screen in memory
// and a journal of everything shown, in order and with the virtual time it was shown at.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "core/OperatorTexts.h"
#include "protocol/CommandContext.h"
#include "sim/MemoryDialogView.h"
#include "sim/SimPlatform.h"
#include "ui/ViewLog.h"

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

}  // namespace norvale::presence_testing
