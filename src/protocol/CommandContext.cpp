// Transfers of one command, with the first failure turned into the command's one error line.
#include "protocol/CommandContext.h"

namespace norvale {

bool CommandContext::mayTransfer() {
    if (failed_ || !stopRequested()) return true;
    fail(MessageId::stoppedByOperator);
    return false;
}

void CommandContext::transferFailed() {
    fail(stopRequested() ? MessageId::stoppedByOperator : MessageId::noAnswer);
}

bool CommandContext::send(std::span<const std::uint8_t> bytes, std::uint32_t waitMs) {
    if (!mayTransfer()) return false;
    if (link().writePipe(device(), kPipe, bytes, waitMs)) return true;
    transferFailed();
    return false;
}

std::optional<Bytes> CommandContext::receive(std::uint32_t maxBytes, std::uint32_t waitMs) {
    if (!mayTransfer()) return std::nullopt;
    ReadReply reply = link().readPipe(device(), kPipe, maxBytes, waitMs);
    if (reply.completed) return std::move(reply.data);
    transferFailed();
    return std::nullopt;
}

std::optional<std::size_t> CommandContext::receive(ReplyStream& replies,
                                                   std::span<std::uint8_t> buffer) {
    if (!failed_ && stopRequested()) return std::nullopt;
    const StreamedReply reply = replies.next(buffer);
    if (reply.completed) return reply.length;
    if (!stopRequested()) fail(MessageId::noAnswer);
    return std::nullopt;
}

void CommandContext::fail(Message reason) {
    if (failed_) return;
    // Whatever the command was doing when the stop came, a flash written in part is what the
    // operator must hear of: the phone needs the write again.
    const bool stop =
        reason.id == MessageId::stoppedByOperator || reason.id == MessageId::readStoppedByOperator;
    if (stop && services_.state.flashWriteOpen.load())
        reason = Message(MessageId::writeInterrupted);
    failed_ = true;
    failureReason_ = reason.id;
    services_.log.append(reason);
}

void stopSession(SessionState& state, Platform& platform) {
    state.stopRequested.store(true);
    // The device stays open while it is held here, so the cut never names a closed handle.
    const std::shared_ptr<const OpenDevice> device = state.device.load();
    if (!device || !device->handle().valid()) return;
    if (device->road() == Road::usb) {
        UsbPhoneLink(platform.usb, platform.clock).cancel(device->handle());
    } else {
        DriverPhoneLink(platform.driver).cancel(device->handle());
    }
}

}  // namespace norvale
