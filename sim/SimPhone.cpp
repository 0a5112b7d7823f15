// The flash-mode phone's state machine: boot ROM packets, the RAM loader and its commands.
#include "SimPhone.h"

#include <algorithm>
#include <string_view>

namespace norvale {
namespace {

// STX (\002), ETX (\003) and RS (\036) as three-digit octal escapes: unlike a hex escape, no
// letter after one can be taken into it.
constexpr std::string_view kAck{"\002ACK\003"};
constexpr std::string_view kNak{"\002NAK\003"};
constexpr std::string_view kStageBeforeJump{"LDR01"};
constexpr std::string_view kStageAfterJump{"JMP01"};
constexpr std::string_view kRamLoaderStarted{"RAM LOADER 1"};
constexpr std::string_view kChunkStored{"CHOK"};
constexpr std::string_view kChunkOutsideFlash{"CHER"};
constexpr std::string_view kBlockStored{"BLKOK"};
constexpr std::string_view kBlockOutsideFlash{"BLKER"};
// RQHW reply around the boot version: offsets 0-17, then the version at 18-21, then 22-31.
constexpr std::string_view kRqhwHead{"\002RQHW\036LTE2 BOOT V="};
constexpr std::string_view kRqhwTail{" SIM 0001\003"};
constexpr std::string_view kEnumHead{"\002ENUM\036"};

std::uint8_t zeroByte(std::uint32_t) { return 0; }

bool isUpperHex(std::uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

std::uint32_t hexValue(std::span<const std::uint8_t> digits) {
    std::uint32_t value = 0;
    for (std::uint8_t c : digits) value = (value << 4) | (c <= '9' ? c - '0' : c - 'A' + 10u);
    return value;
}

std::uint32_t bigEndian32(std::span<const std::uint8_t> bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

bool startsWith(std::span<const std::uint8_t> data, std::string_view prefix) {
    return data.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), data.begin(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

}  // namespace

std::uint8_t SimPhone::erasedFlashByte(std::uint32_t a) {
    return static_cast<std::uint8_t>((a ^ (a >> 8) ^ (a >> 16) ^ (a >> 24)) & 0xFF);
}

std::uint8_t SimPhone::erasedFlashMaskOf(unsigned phoneNumber) {
    return static_cast<std::uint8_t>((phoneNumber - 1) * 0x25);
}

Bytes SimPhone::erasedFlashOf(unsigned phoneNumber, std::uint32_t address, std::size_t count) {
    Bytes bytes(count);
    const std::uint8_t mask = erasedFlashMaskOf(phoneNumber);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = erasedFlashByte(address + static_cast<std::uint32_t>(i)) ^ mask;
    }
    return bytes;
}

std::uint32_t SimPhone::blockSizeAt(std::uint32_t address) {
    return address < 0x10020000 ? 0x8000 : 0x20000;
}

SimPhone::SimPhone(SimPhoneOptions options)
    : options_(std::move(options)),
      bootVersion_(options_.bootVersion),
      flash_(&erasedFlashByte, options_.erasedFlashMask),
      ram_(&zeroByte) {
    bootVersion_.resize(4, ' ');
    options_.rqhwReplySize = std::min<std::size_t>(options_.rqhwReplySize, 32);
}

SimPhone::WriteEffect SimPhone::write(std::span<const std::uint8_t> data) {
    if (data.empty()) return WriteEffect::none;
    if (awaitingRamLoader_) {
        awaitingRamLoader_ = false;
        if (data.size() == kRamLoaderSize) {
            startLoader(data);
            return WriteEffect::none;
        }
    }
    switch (state_) {
        case State::receivingBlock:
            // Inside a block every write is image data, whatever its bytes look like.
            receiveChunk(data);
            return WriteEffect::none;
        case State::awaitingAddress:
            if (data.size() == 4) {
                beginBlock(bigEndian32(data));
                return WriteEffect::none;
            }
            state_ = State::awaitingCommand;  // an 'F' without its address is forgotten
            break;
        case State::startRequested:
            state_ = State::awaitingCommand;
            if (data.size() == 1 && data[0] == 'A') {
                powerCycle();
                return WriteEffect::leftFlashMode;
            }
            break;
        case State::bootRom:
        case State::awaitingCommand: break;
    }
    if (state_ == State::awaitingCommand) {
        if (data.size() == 1) {
            loaderCommand(data[0]);
            return WriteEffect::none;
        }
        if (data.size() == 9 && data[0] == 'R') {
            const std::uint64_t start = bigEndian32(data.subspan(1, 4));
            streamNext_ = start;
            streamEnd_ = std::min<std::uint64_t>(start + bigEndian32(data.subspan(5, 4)),
                                                 std::uint64_t{1} << 32);
            return WriteEffect::none;
        }
    }
    if (data[0] == kStx) {
        framedCommand(data);
    } else if (state_ == State::bootRom && data.size() == 1 && data[0] == 'A') {
        awaitingRamLoader_ = true;
    }
    return WriteEffect::none;
}

Bytes SimPhone::read(std::uint32_t maxBytes) {
    Bytes reply;
    if (!replies_.empty()) {
        reply = std::move(replies_.front());
        replies_.pop_front();
    } else if (streamNext_ < streamEnd_) {
        const std::size_t length = static_cast<std::size_t>(
            std::min<std::uint64_t>(kReadReplySize, streamEnd_ - streamNext_));
        reply.resize(length);
        flash_.read(static_cast<std::uint32_t>(streamNext_), reply);
        streamNext_ += length;
    } else if (state_ == State::bootRom) {
        const std::string_view stage = jumpImageLoaded_ ? kStageAfterJump : kStageBeforeJump;
        reply.assign(stage.begin(), stage.end());
    }
    if (reply.size() > maxBytes) reply.resize(maxBytes);
    return reply;
}

void SimPhone::powerCycle() {
    state_ = State::bootRom;
    awaitingRamLoader_ = false;
    uploadAddress_.reset();
    jumpImageLoaded_ = false;
    replies_.clear();
    dropReadData();
    ram_.clear();
    ramLoader_.clear();
}

Bytes SimPhone::readFlash(std::uint32_t address, std::size_t count) const {
    Bytes bytes(count);
    flash_.read(address, bytes);
    return bytes;
}

void SimPhone::writeFlash(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    flash_.write(address, bytes);
}

Bytes SimPhone::ram(std::uint32_t address, std::size_t count) const {
    Bytes bytes(count);
    ram_.read(address, bytes);
    return bytes;
}

std::string SimPhone::mode() const {
    if (options_.modeOverride) return *options_.modeOverride;
    return blank_ ? "BLANK " : "FLASH ";
}

void SimPhone::framedCommand(std::span<const std::uint8_t> data) {
    if (std::equal(data.begin(), data.end(), rqhwPacket.begin(), rqhwPacket.end())) {
        std::string reply{kRqhwHead};
        reply += bootVersion_;
        reply += kRqhwTail;
        reply.resize(options_.rqhwReplySize);
        queue(reply);
        return;
    }
    if (std::equal(data.begin(), data.end(), enumPacket.begin(), enumPacket.end())) {
        std::string reply{kEnumHead};
        reply += mode();
        reply += static_cast<char>(kEtx);
        queue(reply);
        return;
    }
    const bool upload = startsWith(data, "\002ADDR") || startsWith(data, "\002BIN");
    if (upload) {
        // New loader code is coming: the boot ROM is in charge again.
        state_ = State::bootRom;
        dropReadData();
    }
    const bool accepted = startsWith(data, "\002ADDR")  ? acceptAddrPacket(data)
                          : startsWith(data, "\002BIN") ? acceptBinPacket(data)
                                                        : false;
    if (!accepted) ++rejectedPackets_;
    queue(accepted ? kAck : kNak);
}

bool SimPhone::acceptAddrPacket(std::span<const std::uint8_t> data) {
    // A bad ADDR packet leaves no address, so the BIN packet after it is refused too.
    uploadAddress_.reset();
    if (data.size() != kAddrPacketSize || data[5] != kRs || data[16] != kEtx) return false;
    const auto digits = data.subspan(6, 8);
    const auto sumDigits = data.subspan(14, 2);
    if (!std::all_of(digits.begin(), digits.end(), isUpperHex) ||
        !std::all_of(sumDigits.begin(), sumDigits.end(), isUpperHex)) {
        return false;
    }
    std::uint32_t sum = 0;
    for (std::uint8_t c : digits) sum += c;
    if ((sum & 0xFF) != hexValue(sumDigits)) return false;
    uploadAddress_ = hexValue(digits);
    return true;
}

bool SimPhone::acceptBinPacket(std::span<const std::uint8_t> data) {
    if (data.size() < 10 || data[4] != kRs || data.back() != kEtx) return false;
    const std::size_t length = (std::size_t{data[5]} << 8) | data[6];
    if (length < 1 || length > kMaxBinData || data.size() != length + 9) return false;
    std::uint32_t sum = 0;
    for (std::size_t i = 5; i < 7 + length; ++i) sum += data[i];
    if ((sum & 0xFF) != data[7 + length] || !uploadAddress_) return false;
    if (*uploadAddress_ == kJumpImageAddress) jumpImageLoaded_ = true;
    ram_.write(*uploadAddress_, data.subspan(7, length));
    *uploadAddress_ += static_cast<std::uint32_t>(length);
    return true;
}

void SimPhone::loaderCommand(std::uint8_t command) {
    switch (command) {
        case 'A': awaitingRamLoader_ = true; break;
        case 'B': blank_ = true; break;
        case 'F': state_ = State::awaitingAddress; break;
        case 'S': state_ = State::startRequested; break;
        case 'Z': dropReadData(); break;
        default: break;  // the loader ignores bytes it has no command for
    }
}

void SimPhone::startLoader(std::span<const std::uint8_t> image) {
    ramLoader_.assign(image.begin(), image.end());
    state_ = State::awaitingCommand;
    dropReadData();
    ++loaderStarts_;
    queue(kRamLoaderStarted);
}

void SimPhone::beginBlock(std::uint32_t address) {
    state_ = State::receivingBlock;
    blockAddress_ = address;
    blockSize_ = blockSizeAt(address);
    blockReceived_ = 0;
    blockOutsideFlash_ = false;
}

void SimPhone::receiveChunk(std::span<const std::uint8_t> chunk) {
    const std::size_t taken = std::min<std::size_t>(chunk.size(), blockSize_ - blockReceived_);
    // The part of the chunk that lies in flash is contiguous; the rest is dropped.
    const std::uint64_t at = std::uint64_t{blockAddress_} + blockReceived_;
    const std::uint64_t first = std::max<std::uint64_t>(at, kFlashFirst);
    const std::uint64_t end = std::min<std::uint64_t>(at + taken, std::uint64_t{kFlashLast} + 1);
    std::size_t stored = 0;
    if (first < end) {
        stored = static_cast<std::size_t>(end - first);
        storeInFlash(static_cast<std::uint32_t>(first),
                     chunk.subspan(static_cast<std::size_t>(first - at), stored));
    }
    const bool outside = stored != taken;
    blockOutsideFlash_ = blockOutsideFlash_ || outside;
    blockReceived_ += static_cast<std::uint32_t>(taken);
    queue(outside ? kChunkOutsideFlash : kChunkStored);
    if (blockReceived_ >= blockSize_ || chunk.size() < kChunkSize) {
        queue(blockOutsideFlash_ ? kBlockOutsideFlash : kBlockStored);
        state_ = State::awaitingCommand;
    }
}

void SimPhone::stickBlock(std::uint32_t address) { stuckBlocks_.insert(blockStartOf(address)); }

std::uint32_t SimPhone::blockStartOf(std::uint32_t address) {
    return address & ~(blockSizeAt(address) - 1);
}

void SimPhone::storeInFlash(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    if (stuckBlocks_.empty()) {
        flash_.write(address, bytes);
        return;
    }
    // Every block boundary is a multiple of the small block size: pieces cut there lie in one
    // block each.
    constexpr std::uint64_t kSmallBlock = 0x8000;
    std::uint64_t at = address;
    const std::uint64_t end = at + bytes.size();
    while (at < end) {
        const std::uint64_t pieceEnd = std::min(end, (at / kSmallBlock + 1) * kSmallBlock);
        const auto here = static_cast<std::uint32_t>(at);
        if (stuckBlocks_.count(blockStartOf(here)) == 0) {
            flash_.write(here, bytes.subspan(static_cast<std::size_t>(at - address),
                                             static_cast<std::size_t>(pieceEnd - at)));
        }
        at = pieceEnd;
    }
}

void SimPhone::queue(std::string_view reply) { replies_.emplace_back(reply.begin(), reply.end()); }

}  // namespace norvale
