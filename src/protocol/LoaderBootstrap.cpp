// The loader upload that opens every command: loader.bin, the jump image once per arrival, 'A' and
// ram.bin.
#include "protocol/LoaderBootstrap.h"

#include <algorithm>
#include <optional>
#include <string>

#include "protocol/WholeFile.h"

namespace norvale {
namespace {

constexpr std::uint32_t kAddrWriteWaitMs = 60000;
constexpr std::uint32_t kBinWriteWaitMs = 60000;
constexpr std::uint32_t kUploadReplyWaitMs = 20000;
constexpr std::uint32_t kUploadReplySize = 1024;
constexpr std::uint32_t kPacketPauseMs = 16;
constexpr std::uint32_t kStageReplySize = 5;
constexpr std::uint32_t kRamLoaderReplySize = 12;
constexpr std::uint32_t kRamLoaderWaitMs = 60000;

std::optional<Bytes> loadImage(CommandContext& command, const char* name) {
    LoadedFile image = loadWholeFile(command.platform().files, name);
    if (image.outcome != LoadOutcome::loaded) {
        command.fail(loadFailureReason(image.outcome), MessageDetail::name(name));
        return std::nullopt;
    }
    return std::move(image.data);
}

// ADDR/BIN pairs of up to 2048 bytes, each packet's reply read and discarded.
bool uploadImage(CommandContext& command, const Bytes& image) {
    const auto size = static_cast<std::uint32_t>(image.size());
    for (std::uint32_t offset = 0; offset < size; offset += kMaxBinData) {
        const std::uint32_t n = std::min<std::uint32_t>(size - offset, kMaxBinData);
        if (!sendAddress(command, offset)) return false;
        const Bytes packet = buildBinPacket(std::span(image).subspan(offset, n));
        if (!command.send(packet, kBinWriteWaitMs)) return false;
        command.platform().clock.sleep(kPacketPauseMs);
        if (!command.receive(kUploadReplySize, kUploadReplyWaitMs)) return false;
    }
    return true;
}

// The reply's bytes up to its first zero byte, as one log line.
void logReply(CommandContext& command, const Bytes& reply) {
    const auto end = std::find(reply.begin(), reply.end(), std::uint8_t{0});
    command.log().append(Message(MessageId::loaderReply,
                                 MessageDetail::phoneBytes(std::string(reply.begin(), end))));
}

}  // namespace

bool sendAddress(CommandContext& command, std::uint32_t offset) {
    const std::uint32_t base = command.state().loaderBase.load();
    if (!command.send(buildAddrPacket(base + offset), kAddrWriteWaitMs)) return false;
    return command.receive(kUploadReplySize, kUploadReplyWaitMs).has_value();
}

bool LoaderBootstrap(CommandContext& command) {
    SessionState& state = command.state();
    command.log().append(MessageId::sendingLoader);

    {
        const std::optional<Bytes> loader = loadImage(command, kLoaderImage);
        if (!loader || !uploadImage(command, *loader)) return false;
    }

    if (!state.jumpStageDone.load()) {
        // Set before the image is opened: the jump stage is attempted once per arrival, even if
        // the jump image turns out to be missing.
        state.jumpStageDone.store(true);
        const std::optional<Bytes> jump = loadImage(command, kJumpImage);
        if (!jump) return false;
        state.loaderBase.store(kJumpLoaderBase);
        if (!uploadImage(command, *jump)) return false;
    }

    const std::optional<Bytes> stageReply = command.receive(kStageReplySize, 0);
    if (!stageReply) return false;
    logReply(command, *stageReply);

    // ram.bin is loaded before 'A' is sent, so a missing RAM loader leaves the phone waiting for
    // nothing. A short file is padded with zeros, a long one cut: exactly 2048 bytes go out.
    std::optional<Bytes> ramLoader = loadImage(command, kRamLoaderImage);
    if (!ramLoader) return false;
    ramLoader->resize(kRamLoaderSize, 0);

    if (!command.send(commandByte(LoaderCommand::ramLoader), 0)) return false;
    if (!command.send(*ramLoader, kRamLoaderWaitMs)) return false;
    const std::optional<Bytes> ramReply = command.receive(kRamLoaderReplySize, 0);
    if (!ramReply) return false;
    logReply(command, *ramReply);
    return true;
}

}  // namespace norvale
