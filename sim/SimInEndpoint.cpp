// The bus's packet rules for a bulk IN transfer from the simulated phone.
#include "SimInEndpoint.h"

#include <algorithm>
#include <limits>

namespace norvale {

void SimInEndpoint::queueReply(const Bytes& reply) {
    for (std::size_t offset = 0; offset < reply.size(); offset += maxPacket_) {
        const std::size_t length = std::min<std::size_t>(maxPacket_, reply.size() - offset);
        const auto begin = reply.begin() + static_cast<std::ptrdiff_t>(offset);
        packets_.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(length));
    }
    if (zeroLengthAfterWhole_ && reply.size() % maxPacket_ == 0) packets_.emplace_back();
}

SimInEndpoint::Served SimInEndpoint::serve(SimPhone& phone, std::span<std::uint8_t> buffer,
                                           std::size_t filled) {
    if (maxPacket_ == 0) return {End::waiting, filled};
    while (filled < buffer.size()) {
        if (packets_.empty()) {
            // The whole reply: what the transfer cannot take waits here for the next one.
            const Bytes reply = phone.read(std::numeric_limits<std::uint32_t>::max());
            if (reply.empty()) return {End::waiting, filled};
            queueReply(reply);
        }
        const Bytes packet = std::move(packets_.front());
        packets_.pop_front();
        const std::size_t room = buffer.size() - filled;
        if (packet.size() > room) {
            std::copy_n(packet.begin(), room, buffer.begin() + static_cast<std::ptrdiff_t>(filled));
            return {End::overflow, buffer.size()};
        }
        std::copy(packet.begin(), packet.end(),
                  buffer.begin() + static_cast<std::ptrdiff_t>(filled));
        filled += packet.size();
        if (packet.size() < maxPacket_) return {End::shortPacket, filled};
    }
    return {End::full, filled};
}

std::size_t SimInEndpoint::queuedBytes() const {
    std::size_t bytes = 0;
    for (const Bytes& packet : packets_) bytes += packet.size();
    return bytes;
}

}  // namespace norvale
