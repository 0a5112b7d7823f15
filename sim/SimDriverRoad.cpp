// The driver road of the simulator: the maker's driver's control requests and their records.
#include "SimDriver.h"

#include <algorithm>
#include <cstdio>

#include "protocol/DriverPhoneLink.h"

namespace norvale {
namespace {

constexpr std::uint16_t kManufacturerSelector = 0x0103;
constexpr std::uint16_t kInterfaceSelector = 0x0002;

std::uint32_t littleEndian32(std::span<const std::uint8_t> bytes) {
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
           (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

void putLittleEndian32(std::span<std::uint8_t> out, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

ControlResult SimDriver::control(DeviceHandle device, std::uint32_t code,
                                 std::span<const std::uint8_t> input,
                                 std::span<std::uint8_t> output, std::uint32_t waitMs) {
    const std::uint64_t cancels = cancelsOf(device);
    Outcome outcome;
    {
        const std::shared_ptr<Unit> unit = unitOf(device);
        std::unique_lock<std::mutex> phoneLock;
        if (unit) phoneLock = std::unique_lock(unit->mutex);
        std::optional<SimFaultKind> fault;
        if (code == kIoctlPipeWrite || code == kIoctlPipeRead) {
            fault = numberTransfer(unit.get(), device);
        }
        Interface* target = attachedNow(device);
        Unit* own = unit.get();
        switch (code) {
            case kIoctlPipeWrite:
                outcome = pipeWrite(own, target, input, output, waitMs, fault);
                break;
            case kIoctlPipeRead:
                outcome = pipeRead(own, target, input, output, waitMs, fault);
                break;
            case kIoctlGetString: outcome = queryString(own, target, input, output); break;
            default: {
                char line[32];
                std::snprintf(line, sizeof line, "C %08lx FAIL", static_cast<unsigned long>(code));
                traceLine(own, line);
            }
        }
    }
    // Time passes outside the lock, so a hung request doesn't hold up the other threads.
    if (outcome.waiting) {
        waitUnlessCancelled(device, cancels, outcome.sleepMs);
    } else if (outcome.sleepMs != 0) {
        clock_.sleep(outcome.sleepMs);
    }
    return outcome.result;
}

SimDriver::Outcome SimDriver::pipeWrite(Unit* unit, Interface* target,
                                        std::span<const std::uint8_t> input,
                                        std::span<std::uint8_t> output, std::uint32_t waitMs,
                                        std::optional<SimFaultKind> fault) {
    const std::uint8_t pipe = input.empty() ? 0 : input[0];
    const std::size_t declared = input.size() >= 5 ? littleEndian32(input.subspan(1, 4)) : 0;
    // The whole record is the header, the data and one trailing byte: nothing more, nothing less.
    const bool wellFormed = input.size() >= kWriteRecordOverhead && output.empty() &&
                            declared == input.size() - kWriteRecordOverhead;
    const auto data = input.size() > 5 ? input.subspan(5, std::min(declared, input.size() - 5))
                                       : std::span<const std::uint8_t>{};
    const std::string line = withHex(unit, "W " + std::to_string(pipe), data);
    if (!target || !wellFormed || pipe != kPipe) {
        traceLine(unit, SimTrace::failed(line));
        return {};
    }
    if (fault == SimFaultKind::hang) {
        traceLine(unit, SimTrace::failed(line));
        return {{}, waitMs, true};
    }
    // nodata on a write: the driver completes it, but the bytes never reach the phone.
    if (fault != SimFaultKind::nodata) phoneWrote(*target, target->phone->write(data));
    traceLine(unit, line);
    return {{true, 0}, busTime(unit, data.size())};
}

SimDriver::Outcome SimDriver::pipeRead(Unit* unit, Interface* target,
                                       std::span<const std::uint8_t> input,
                                       std::span<std::uint8_t> output, std::uint32_t waitMs,
                                       std::optional<SimFaultKind> fault) {
    const std::uint8_t pipe = input.empty() ? 0 : input[0];
    const std::uint32_t maxBytes = input.size() >= 5 ? littleEndian32(input.subspan(1, 4)) : 0;
    const bool wellFormed = input.size() == 5 && output.size() == kReadReplyBufferSize;
    const std::string line = "R " + std::to_string(pipe) + ' ' + std::to_string(maxBytes);
    if (!target || !wellFormed || pipe != kPipe) {
        traceLine(unit, SimTrace::failed(line));
        return {};
    }
    if (fault == SimFaultKind::hang) {
        traceLine(unit, SimTrace::failed(line));
        return {{}, waitMs, true};
    }
    Bytes data;
    if (fault != SimFaultKind::nodata) {
        const std::size_t room = output.size() - kReadReplyPrefixSize;
        data =
            target->phone->read(static_cast<std::uint32_t>(std::min<std::size_t>(maxBytes, room)));
    }
    putLittleEndian32(output, static_cast<std::uint32_t>(data.size()));
    std::copy(data.begin(), data.end(), output.begin() + kReadReplyPrefixSize);
    traceLine(unit, withHex(unit, line, data));
    return {{true, static_cast<std::uint32_t>(kReadReplyPrefixSize + data.size())},
            busTime(unit, data.size())};
}

SimDriver::Outcome SimDriver::queryString(Unit* unit, Interface* target,
                                          std::span<const std::uint8_t> input,
                                          std::span<std::uint8_t> output) {
    const std::uint16_t selector = static_cast<std::uint16_t>(
        (input.size() > 0 ? input[0] : 0) | (input.size() > 1 ? input[1] << 8 : 0));
    char head[16];
    std::snprintf(head, sizeof head, "Q %04x", static_cast<unsigned>(selector));
    const bool wellFormed = input.size() == 2 && output.size() == kStringReplyBufferSize;
    const std::string* text = nullptr;
    if (target && selector == kManufacturerSelector) text = &target->options.manufacturerString;
    if (target && selector == kInterfaceSelector) text = &target->options.interfaceString;
    if (!target || !wellFormed || !text) {
        traceLine(unit, SimTrace::failed(head));
        return {};
    }
    const std::size_t units = std::min(text->size(), kMaxStringUnits);
    putLittleEndian32(output, static_cast<std::uint32_t>(units));
    Bytes delivered(text->begin(), text->begin() + static_cast<std::ptrdiff_t>(units));
    for (std::size_t i = 0; i < units; ++i) {
        output[4 + 2 * i] = delivered[i];
        output[5 + 2 * i] = 0;
    }
    traceLine(unit, withHex(unit, head, delivered));
    return {{true, static_cast<std::uint32_t>(4 + 2 * units)}, 0};
}

}  // namespace norvale
