// Transfers of one command, with the first failure turned into the command's one error line.
#include "protocol/CommandContext.h"

namespace norvale {

bool CommandContext::mayTransfer() {
    if (failed_ || !stopRequested()) return true;
    fail(MessageId::stoppedByOperator);
    return false;
}

bool CommandContext::send(std::span<const std::uint8_t> bytes, std::uint32_t waitMs) {
    if (!mayTransfer()) return false;
    if (link().writePipe(device(), kPipe, bytes, waitMs)) return true;
    fail(MessageId::noAnswer);
    return false;
}

std::optional<Bytes> CommandContext::receive(std::uint32_t maxBytes, std::uint32_t waitMs) {
    if (!mayTransfer()) return std::nullopt;
    ReadReply reply = link().readPipe(device(), kPipe, maxBytes, waitMs);
    if (reply.completed) return std::move(reply.data);
    fail(MessageId::noAnswer);
    return std::nullopt;
}

std::optional<std::size_t> CommandContext::receive(ReplyStream& replies,
                                                   std::span<std::uint8_t> buffer) {
    if (!mayTransfer()) return std::nullopt;
    const StreamedReply reply = replies.next(buffer);
    if (reply.completed) return reply.length;
    fail(MessageId::noAnswer);
    return std::nullopt;
}

void CommandContext::fail(Message reason) {
    if (failed_) return;
    failed_ = true;
    failureReason_ = reason.id;
    services_.log.append(reason);
}

}  // namespace norvale
