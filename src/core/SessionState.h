// The process-wide record that the UI thread, the monitor and the command worker share.
#pragma once

#include <atomic>
#include <memory>
#include <string>
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

struct SessionState {
    // Written on the UI thread by arrival and removal; read by workers.
    std::atomic<bool> connected{false};
    // Set by the UI thread when it starts a worker, cleared only by that worker.
    std::atomic<bool> busy{false};
    // Set the first time a worker attempts the jump stage; never cleared.
    std::atomic<bool> jumpStageDone{false};
    // RAM address of loader.bin as eight hex characters. Touched by workers only, one at a time;
    // the busy handover orders one worker's writes before the next worker's reads.
    std::string loaderBaseText = "03FD0000";
    // The interface opened at the last arrival; null until then (the invalid handle). Replaced
    // on the UI thread at every arrival, kept on removal.
    std::atomic<std::shared_ptr<const OpenDevice>> device;
    // Set by a front end that lets the operator interrupt a command (the command line's Ctrl+C,
    // from its signal handler); the running command ends at its next transfer. The dialog never
    // sets it.
    std::atomic<bool> stopRequested{false};

    DeviceHandle deviceHandle() const {
        const auto current = device.load();
        return current ? current->handle() : kInvalidDevice;
    }
};

}  // namespace norvale
