// One phone's session: what its front end, its presence handling and its command worker share.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

#include "platform/DeviceHandle.h"

namespace norvale {

// An open flash-mode device, on the road it was found on. It is shared between the session and
// any worker that took it at its start; the handle is closed when the last of them lets go, so an
// arrival that replaces it never closes a handle under a running command, and no handle outlives
// every user.
class OpenDevice {
public:
    OpenDevice(DeviceHandle handle, DeviceCloser& closer, Road road = Road::driver)
        : handle_(handle), closer_(closer), road_(road) {}
    ~OpenDevice() {
        if (handle_.valid()) closer_.close(handle_);
    }
    OpenDevice(const OpenDevice&) = delete;
    OpenDevice& operator=(const OpenDevice&) = delete;

    DeviceHandle handle() const { return handle_; }
    Road road() const { return road_; }

private:
    DeviceHandle handle_;
    DeviceCloser& closer_;
    Road road_;
};

// RAM address of loader.bin for a phone that has just booted into flash mode.
inline constexpr std::uint32_t kInitialLoaderBase = 0x03FD0000;

// Everything that belongs to one phone. A front end holds one per phone it serves (the dialog
// exactly one); nothing below the front ends is shared between sessions but read-only data, so
// two sessions may run their commands on two threads at once. The session's thread is the one
// its front end handles presence on (the dialog's UI thread, a station's thread for the phone).
struct SessionState {
    // Written by the session's arrival and removal handling; read by workers.
    std::atomic<bool> connected{false};
    // Set by the session's thread when it starts a worker, cleared only by that worker.
    std::atomic<bool> busy{false};
    // The jump state of the phone's present arrival. jumpStageDone is set the first time a worker
    // attempts the jump stage after an arrival; loaderBase is where loader.bin goes (the jump
    // image moves it). Both are begun afresh by beginArrival(): a phone that arrives has just
    // booted and holds nothing in RAM. Atomic because an arrival may come while a command of the
    // phone that left still runs on its old handle.
    std::atomic<bool> jumpStageDone{false};
    std::atomic<std::uint32_t> loaderBase{kInitialLoaderBase};
    // The interface opened at the last arrival; null until then (the invalid handle). Replaced
    // on the UI thread at every arrival, kept on removal.
    std::atomic<std::shared_ptr<const OpenDevice>> device;
    // Set by a front end that lets the operator interrupt a command (the command line's Ctrl+C,
    // from its signal handler); the running command ends at its next transfer. The dialog never
    // sets it.
    std::atomic<bool> stopRequested{false};
    // "During a write": the phone's flash is written in part. Set just before a command sends
    // the first flash write command of its write (the 'F' of its first block, BLANK's 'B'), and
    // cleared once the phone has given that write's last reply (its last block's 5-byte reply;
    // for BLANK, once the 'B' has gone). Uploading the loaders, comparing, verifying and reading
    // never set it. A stop while it is set leaves a phone that may not boot until it is written
    // again, which the stop's error line says. A restore keeps it set from its first region's
    // first 'F' to its last region's last reply: with `flashWriteSpans` set, a write's end
    // leaves it as it is. The session's command thread alone sets and clears both.
    std::atomic<bool> flashWriteOpen{false};
    std::atomic<bool> flashWriteSpans{false};

    // The phone arrived: its first command uploads loader.bin to 03FD0000 and then the jump image.
    void beginArrival() {
        jumpStageDone.store(false);
        loaderBase.store(kInitialLoaderBase);
    }

    DeviceHandle deviceHandle() const {
        const auto current = device.load();
        return current ? current->handle() : kInvalidDevice;
    }
};

}  // namespace norvale
