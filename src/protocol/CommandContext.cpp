// Transfers of one command, with the first failure turned into the command's one error line.
#include "protocol/CommandContext.h"

#include "core/OperatorTexts.h"

namespace norvale {

bool CommandContext::mayTransfer() {
    if (failed_ || !stopRequested()) return true;
    fail(text::kStoppedByOperator);
    return false;
}

bool CommandContext::send(std::span<const std::uint8_t> bytes, std::uint32_t waitMs) {
    if (!mayTransfer()) return false;
    if (link().writePipe(device(), kPipe, bytes, waitMs)) return true;
    fail(text::kNoAnswerFromPhone);
    return false;
}

std::optional<Bytes> CommandContext::receive(std::uint32_t maxBytes, std::uint32_t waitMs) {
    if (!mayTransfer()) return std::nullopt;
    ReadReply reply = link().readPipe(device(), kPipe, maxBytes, waitMs);
    if (reply.completed) return std::move(reply.data);
    fail(text::kNoAnswerFromPhone);
    return std::nullopt;
}

std::optional<std::size_t> CommandContext::receive(ReplyStream& replies,
                                                   std::span<std::uint8_t> buffer) {
    if (!mayTransfer()) return std::nullopt;
    const StreamedReply reply = replies.next(buffer);
    if (reply.completed) return reply.length;
    fail(text::kNoAnswerFromPhone);
    return std::nullopt;
}

void CommandContext::fail(std::string_view reason, std::string_view detail) {
    if (failed_) return;
    failed_ = true;
    failureReason_ = reason;
    services_.log.append(text::errorLine(reason, detail));
}

}  // namespace norvale
