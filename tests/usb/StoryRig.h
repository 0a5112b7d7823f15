// The portable layers composed over one road, for stories told the same way on either road.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/OperationLog.h"
#include "integration/OperationsRig.h"
#include "integration/PresenceRig.h"
#include "presence/PresenceHandling.h"
#include "protocol/CommandWorker.h"
#include "ui/DialogLogLines.h"

namespace norvale::usb_testing {

// Every line the operator is shown, in order; also passed on to the dialog's screen.
class LineLog final : public OperationLog {
public:
    explicit LineLog(DialogView& view) : view_(view) {}
    void append(const Message& message) override {
        for (const std::string& text : dialogLogLines(message)) {
            view_.appendLog(text);
            const std::lock_guard lock(mutex_);
            lines_.push_back(text);
        }
    }
    std::vector<std::string> lines() const {
        const std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    DialogView& view_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// With no USB port given, a simulated phone stands behind the driver road and the driver's
// trace records the writes. With one, the driver has nothing attached, so the arrival finds the
// phone on the USB road through that port. The working folder holds the loader images.
class StoryRig {
public:
    explicit StoryRig(UsbPort* usb = nullptr) : usb_(usb) {
        std::filesystem::create_directories("bin");
        testing::putFile("bin/loader.bin", testing::patternImage(3000, 0x11));
        testing::putFile("bin/LTE2_jump.bin", testing::patternImage(100, 0x22));
        testing::putFile("bin/ram.bin", testing::patternImage(2048, 0x33));
        if (!usb_) driverPhone_ = driver.attach();
    }
    StoryRig(const StoryRig&) = delete;
    StoryRig& operator=(const StoryRig&) = delete;
    // The session's device is closed while its port is still there.
    ~StoryRig() { state.device.store(nullptr); }

    // The monitor's arrival message, handled on this thread as the UI thread would.
    void arrive() { handleArrival(services); }
    // One click: the worker's frame and `body`, run on this thread.
    void click(const CommandBody& body) {
        state.busy = true;
        runCommandWorker(services, body);
    }
    void fields(std::string_view start, std::string_view end) {
        view.setFieldText(AddressField::start, start);
        view.setFieldText(AddressField::end, end);
    }
    void pickImage(const std::string& name, const Bytes& bytes) {
        testing::putFile(name, bytes);
        chooser.choose(name);
    }
    // Whether the phone is still on its road; waits up to `within` for it to leave.
    bool phoneStays(std::chrono::milliseconds within) {
        const auto until = std::chrono::steady_clock::now() + within;
        for (;;) {
            const bool present = usb_ ? !usb_->listPhones().empty() : driver.attached(driverPhone_);
            if (!present) return false;
            if (std::chrono::steady_clock::now() >= until) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // The data of each pipe write the simulated driver saw, as hex (driver road only).
    std::vector<std::string> driverWrites() const {
        std::vector<std::string> writes;
        for (const std::string& line : driver.trace()) {
            if (line.starts_with("W 2 ")) writes.push_back(line.substr(4));
        }
        return writes;
    }

private:
    // First: the folder is the working directory before anything is put in it.
    presence_testing::ScratchFolder folder_;
    UsbPort* usb_;
    SimInterfaceId driverPhone_ = 0;

public:
    VirtualClock clock;
    SimDriver driver{clock};
    HostFileSystem files;
    ScriptedFileChooser chooser;
    StdThreadStarter threads;
    Platform platform{driver, driver,  driver, usb_ ? *usb_ : driver,
                      files,  chooser, clock,  threads};
    MemoryDialogView view;
    LineLog log{view};
    SessionState state;
    Services services{state, log, platform, view};
};

}  // namespace norvale::usb_testing
