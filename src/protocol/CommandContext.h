// What one command worker works with: the session, the log, the seams, and the device it took.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "core/Message.h"
#include "core/OperationLog.h"
#include "core/SessionState.h"
#include "platform/DialogView.h"
#include "platform/Platform.h"
#include "protocol/DriverPhoneLink.h"
#include "protocol/UsbPhoneLink.h"

namespace norvale {

// The long-lived parts every command and the presence handling share.
struct Services {
    SessionState& state;
    OperationLog& log;
    Platform& platform;
    DialogView& view;  // the address fields are read through it
    DriverPhoneLink driverLink{platform.driver};
    UsbPhoneLink usbLink{platform.usb, platform.clock};

    // The road a device was opened on carries every transfer to it.
    const PhoneLink& link(Road road) const {
        if (road == Road::usb) return usbLink;
        return driverLink;
    }
};

// One command's view of the phone. The device is taken once, when the worker starts, so an
// arrival that replaces the session's device can't change the handle under a running command,
// and the handle stays open until the command lets go of it.
//
// Every transfer goes through send() and receive(). The first failed transfer tells the one
// error message of the command (no_answer) and marks it failed; a command checks their results
// and ends at once, so it never tells success for data that did not reach the phone.
//
// A stop request (SessionState::stopRequested) is looked at before every transfer of a command
// that has not failed yet: the transfer is not made, and the command fails with
// stopped_by_operator. A transfer that fails while a stop is requested was cut by the stop
// (stopSession() cancels the transfer in flight): it fails the command the same way, not as a
// phone that did not answer. Once a command has failed, its closing transfers (the 'Z' after a
// read) still go. A stop while the flash is written in part (SessionState::flashWriteOpen) is
// told as write_interrupted instead, whatever the stop's line would have been.
class CommandContext {
public:
    explicit CommandContext(Services& services)
        : services_(services), device_(services.state.device.load()) {}

    Services& services() { return services_; }
    SessionState& state() { return services_.state; }
    OperationLog& log() { return services_.log; }
    Platform& platform() { return services_.platform; }
    DialogView& view() { return services_.view; }
    DeviceHandle device() const { return device_ ? device_->handle() : kInvalidDevice; }
    // The link of the road the command's device is on (the driver's when there is none).
    const PhoneLink& link() const {
        return services_.link(device_ ? device_->road() : Road::driver);
    }

    // Writes to pipe 2; false (the error already logged) when the write did not complete.
    bool send(std::span<const std::uint8_t> bytes, std::uint32_t waitMs);
    // Reads from pipe 2; nullopt (the error already logged) when the read did not complete. A
    // read that completed with no data is a value, empty: what it means is the caller's call.
    std::optional<Bytes> receive(std::uint32_t maxBytes, std::uint32_t waitMs);
    // The replies to the read request just sent, for `totalBytes` bytes at most maxBytes a reply,
    // as the device's road streams them (see ReplyStream); it must go before the next send().
    std::unique_ptr<ReplyStream> openReplies(std::uint64_t totalBytes, std::uint32_t maxBytes,
                                             std::uint32_t waitMs) const {
        return link().openReplies(device(), kPipe, totalBytes, maxBytes, waitMs);
    }
    // The next reply of `replies` into `buffer`: its length, or nullopt when the read did not
    // complete: the error already logged, except for a stop (one requested before the read, or
    // one that cut it), which is left to the caller to tell with what the read kept.
    std::optional<std::size_t> receive(ReplyStream& replies, std::span<std::uint8_t> buffer);

    // Tells the error message `reason` with its details once per command; later calls tell
    // nothing.
    void fail(Message reason);
    template <class... Details>
    void fail(MessageId reason, Details&&... details) {
        fail(Message(reason, std::forward<Details>(details)...));
    }
    bool failed() const { return failed_; }
    // The identifier of the command's one error message, or nothing while it has not failed: what
    // a front end tells its caller goes by this.
    std::optional<MessageId> failureReason() const { return failureReason_; }
    // Whether the operator has asked the running command to stop.
    bool stopRequested() const { return services_.state.stopRequested.load(); }

    // The write's first flash write command is about to go, and the phone's last reply to the
    // write has come (see SessionState::flashWriteOpen).
    void flashWriteBegins() { services_.state.flashWriteOpen.store(true); }
    void flashWriteEnds() {
        if (!services_.state.flashWriteSpans.load()) services_.state.flashWriteOpen.store(false);
    }

private:
    // False, with the command failed, when a stop request ends it before its next transfer.
    bool mayTransfer();
    // A transfer did not complete: the phone did not answer, or a stop cut it.
    void transferFailed();

    Services& services_;
    std::shared_ptr<const OpenDevice> device_;
    bool failed_ = false;
    std::optional<MessageId> failureReason_;
};

using CommandBody = std::function<void(CommandContext&)>;

// From any thread: asks the session's running command to stop and cuts the transfer it has in
// flight on the session's device, on that device's road, so a phone that never answers does not
// keep the stop waiting for the transfer's wait time. A transfer the command begins in the same
// instant, before it has seen the request, is not cut: whoever must end the session in a bounded
// time calls this again until the session has ended (the station does at every look at it).
void stopSession(SessionState& state, Platform& platform);

// How one command ended, for a front end that reports more than the log (an exit code).
struct CommandOutcome {
    bool failed = false;
    std::optional<MessageId> reason;  // as CommandContext::failureReason(); phone_not_connected too
};

}  // namespace norvale
