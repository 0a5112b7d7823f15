// The "[K:]<kind>@<N>" list of NORVALE_SIM_FAULTS.
#include "SimFaults.h"

#include <optional>

#include "protocol/CommandFormats.h"

namespace norvale {
namespace {

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<SimFaultKind> kindNamed(std::string_view name) {
    for (SimFaultKind kind : {SimFaultKind::unplug, SimFaultKind::nodata, SimFaultKind::hang}) {
        if (name == simFaultName(kind)) return kind;
    }
    return std::nullopt;
}

// Decimal digits only, no sign, at least 1, and no overflow.
std::optional<std::uint64_t> transferNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 18) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value == 0) return std::nullopt;
    return value;
}

constexpr std::string_view kStuckName = "stuck";

}  // namespace

std::string_view simFaultName(SimFaultKind kind) {
    switch (kind) {
        case SimFaultKind::unplug: return "unplug";
        case SimFaultKind::nodata: return "nodata";
        case SimFaultKind::hang: return "hang";
    }
    return "?";
}

ParsedSimFaults parseSimFaults(std::string_view text) {
    ParsedSimFaults parsed;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        if (item.empty()) continue;
        const std::size_t colon = item.find(':');
        unsigned phone = 0;
        std::string_view body = item;
        if (colon != std::string_view::npos) {
            const auto number = transferNumber(item.substr(0, colon));
            if (!number || *number > 0xFFFF) {
                parsed.rejected.emplace_back(item);
                continue;
            }
            phone = static_cast<unsigned>(*number);
            body = item.substr(colon + 1);
        }
        const std::size_t at = body.find('@');
        if (at != std::string_view::npos && body.substr(0, at) == kStuckName) {
            if (const auto address = parseStrictHexAddress(body.substr(at + 1))) {
                if (phone == 0) {
                    parsed.stuckBlocks.push_back(*address);
                } else {
                    parsed.phoneStuckBlocks.emplace_back(phone, *address);
                }
            } else {
                parsed.rejected.emplace_back(item);
            }
            continue;
        }
        const auto kind =
            at == std::string_view::npos ? std::nullopt : kindNamed(body.substr(0, at));
        const auto number =
            at == std::string_view::npos ? std::nullopt : transferNumber(body.substr(at + 1));
        if (kind && number) {
            parsed.faults.push_back({*kind, *number, phone});
        } else {
            parsed.rejected.emplace_back(item);
        }
    }
    return parsed;
}

}  // namespace norvale
