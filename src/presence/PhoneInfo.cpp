// The boot version, mode and CG1 start lines logged on arrival.
#include "presence/PhoneInfo.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/Message.h"
#include "protocol/WholeFile.h"

namespace norvale {
namespace {

// Where the shown fields sit in the replies and in the configuration file.
constexpr std::size_t kBootVersionOffset = 18;
constexpr std::size_t kBootVersionLength = 4;
constexpr std::size_t kModeOffset = 6;
constexpr std::size_t kModeLength = 6;
constexpr std::size_t kCg1Offset = 7;
constexpr std::size_t kCg1Length = 8;

Message fromPhone(MessageId id, std::string_view value) {
    return Message(id, MessageDetail::phoneBytes(value));
}

// One framed command and its reply, neither waited for: the boot ROM answers at once, and a
// phone that doesn't must not hold up the dialog.
Bytes exchange(const PhoneLink& link, DeviceHandle device, std::span<const std::uint8_t> packet,
               std::uint32_t replySize) {
    link.writePipe(device, kPipe, packet, 0);
    return link.readPipe(device, kPipe, replySize, 0).data;
}

// The `count` bytes of `bytes` from `offset`, ending early at the first zero byte or at the end
// of `bytes`: replies and files may be shorter than the field.
std::string textField(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t count) {
    std::string text;
    for (std::size_t i = offset; i < bytes.size() && i < offset + count && bytes[i] != 0; ++i) {
        text += static_cast<char>(bytes[i]);
    }
    return text;
}

}  // namespace

std::string readBootVersion(const PhoneLink& link, DeviceHandle device) {
    const Bytes hardware = exchange(link, device, rqhwPacket, kRqhwReplySize);
    return textField(hardware, kBootVersionOffset, kBootVersionLength);
}

std::string readMode(const PhoneLink& link, DeviceHandle device) {
    const Bytes mode = exchange(link, device, enumPacket, kEnumReplySize);
    return textField(mode, kModeOffset, kModeLength);
}

std::optional<std::string> readCg1Start(FileSystem& files) {
    // Read with read sharing, so a read-only file or one another program is reading still
    // gives its line. A file that can't be read, or an empty one, gives no line at all.
    const LoadedFile config = loadWholeFile(files, files.workingFolderName(kConfigurationFile));
    if (config.outcome != LoadOutcome::loaded) return std::nullopt;
    return textField(config.data, kCg1Offset, kCg1Length);
}

PhoneIdentity readPhoneInfo(Services& services) {
    // Taken once: both exchanges go to the interface the arrival has just opened.
    const std::shared_ptr<const OpenDevice> device = services.state.device.load();
    const DeviceHandle handle = device ? device->handle() : kInvalidDevice;
    const PhoneLink& link = services.link(device ? device->road() : Road::driver);

    PhoneIdentity identity;
    identity.bootVersion = readBootVersion(link, handle);
    services.log.append(fromPhone(MessageId::bootVersion, identity.bootVersion));
    identity.mode = readMode(link, handle);
    services.log.append(fromPhone(MessageId::phoneMode, identity.mode));

    if (const auto cg1 = readCg1Start(services.platform.files)) {
        services.log.append(fromPhone(MessageId::cg1Start, *cg1));
    }
    return identity;
}

}  // namespace norvale
