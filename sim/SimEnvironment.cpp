// The simulator as the environment sets it up: road, phones, arrivals, faults and trace files.
#include <cstdio>
#include <cstdlib>
#include <map>

#include "SimDriver.h"

namespace norvale {
namespace {

std::optional<std::string> environmentText(const char* name) {
#ifdef _MSC_VER
    char* value = nullptr;
    std::size_t length = 0;
    if (_dupenv_s(&value, &length, name) != 0 || value == nullptr) return std::nullopt;
    std::string text(value);
    std::free(value);
    return text;
#else
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
#endif
}

// "NAME-K.EXT" for "NAME.EXT", "NAME-K" for a name without an extension: a dot in a folder's
// name is no extension.
std::string numberedPath(const std::string& path, unsigned number) {
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.find_last_of("/\\");
    const std::string suffix = "-" + std::to_string(number);
    if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot < slash) ||
        dot == slash + 1) {
        return path + suffix;
    }
    return path.substr(0, dot) + suffix + path.substr(dot);
}

// A whole decimal number from 1 to `most`, or nullopt.
std::optional<std::uint64_t> decimal(std::string_view text, std::uint64_t most) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value == 0 || value > most) return std::nullopt;
    return value;
}

constexpr unsigned kMostSimPhones = 64;

}  // namespace

std::unique_ptr<SimDriver> SimDriver::fromEnvironment(Clock& clock) {
    auto driver = std::make_unique<SimDriver>(clock);
    driver->keepTrace(false);
    const Road road = roadFromEnvironment();
    const auto phonesText = environmentText("NORVALE_SIM_PHONES");
    unsigned phones = 1;
    if (phonesText && !phonesText->empty()) {
        if (const auto count = decimal(*phonesText, kMostSimPhones)) {
            phones = static_cast<unsigned>(*count);
        } else {
            std::fprintf(stderr,
                         "norvale-sim: NORVALE_SIM_PHONES: ignoring '%s' (expected 1 to %u)\n",
                         phonesText->c_str(), kMostSimPhones);
        }
    }
    // Phone K's arrival, in ms after now, from "K@MS,...".
    std::map<unsigned, std::uint64_t> arrivals;
    if (const auto arrive = environmentText("NORVALE_SIM_ARRIVE")) {
        std::string_view rest = *arrive;
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            const std::string_view item = rest.substr(0, comma);
            rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
            const std::size_t at = item.find('@');
            const auto number =
                at == std::string_view::npos ? std::nullopt : decimal(item.substr(0, at), phones);
            const auto ms = at == std::string_view::npos
                                ? std::nullopt
                                : decimal(item.substr(at + 1), 999'999'999);
            if (number && ms) {
                arrivals[static_cast<unsigned>(*number)] = *ms;
            } else if (!item.empty()) {
                std::fprintf(stderr,
                             "norvale-sim: NORVALE_SIM_ARRIVE: ignoring '%.*s' (expected K@MS, "
                             "K a phone from 1 to %u, MS from 1)\n",
                             static_cast<int>(item.size()), item.data(), phones);
            }
        }
    }
    // The USB road's phones send a zero-length packet after a reply of whole packets.
    bool zeroLengthAfterWhole = false;
    if (const auto zlp = environmentText("NORVALE_SIM_ZLP"); zlp && !zlp->empty()) {
        zeroLengthAfterWhole = *zlp == "1";
        if (*zlp != "0" && *zlp != "1") {
            std::fprintf(stderr, "norvale-sim: NORVALE_SIM_ZLP: ignoring '%s' (expected 0 or 1)\n",
                         zlp->c_str());
        }
    }
    const bool numbered = phonesText && !phonesText->empty();
    for (unsigned number = 1; number <= phones; ++number) {
        SimInterfaceOptions options;
        options.road = road;
        options.zeroLengthAfterWhole = zeroLengthAfterWhole;
        if (numbered) {
            const std::string location = "sim-" + std::to_string(number);
            options.devicePath = road == Road::usb ? location
                                                   : "\\\\?\\usb#vid_22b8&pid_4903#" + location +
                                                         "#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";
            options.location = location;
        }
        // NORVALE_SIM_SERIAL=none: phones without a serial number, as some devices are.
        if (environmentText("NORVALE_SIM_SERIAL").value_or("") != "none") {
            char serial[16];
            std::snprintf(serial, sizeof serial, "SIM%04u", number);
            options.serialNumber = serial;
        }
        SimPhoneOptions phoneOptions;
        phoneOptions.erasedFlashMask = SimPhone::erasedFlashMaskOf(number);
        auto phone = std::make_shared<SimPhone>(phoneOptions);
        if (const auto later = arrivals.find(number); later != arrivals.end()) {
            driver->attachAt(clock.nowMs() + later->second, options, phone);
        } else {
            driver->attach(options, phone);
        }
    }
    if (const auto back = environmentText("NORVALE_SIM_RETURN"); back && !back->empty()) {
        if (const auto ms = decimal(*back, 999'999'999)) {
            driver->returnAfterStart(static_cast<std::uint32_t>(*ms));
        } else {
            std::fprintf(stderr, "norvale-sim: NORVALE_SIM_RETURN: ignoring '%s' (expected MS)\n",
                         back->c_str());
        }
    }
    if (const auto pace = environmentText("NORVALE_SIM_PACE"); pace && !pace->empty()) {
        if (const auto ms = decimal(*pace, 60'000)) {
            driver->paceTransfers(static_cast<std::uint32_t>(*ms));
        } else {
            std::fprintf(stderr,
                         "norvale-sim: NORVALE_SIM_PACE: ignoring '%s' (expected MS from 1 to "
                         "60000)\n",
                         pace->c_str());
        }
    }
    driver->applyEnvironment(road, phones);
    return driver;
}

Road SimDriver::roadFromEnvironment() {
    const auto road = environmentText("NORVALE_SIM_ROAD");
    if (!road || road->empty() || *road == "driver") return Road::driver;
    if (*road == "usb") return Road::usb;
    std::fprintf(stderr, "norvale-sim: NORVALE_SIM_ROAD: ignoring '%s' (expected driver or usb)\n",
                 road->c_str());
    return Road::driver;
}

void SimDriver::applyEnvironment(Road road, unsigned phones) {
    if (const auto faults = environmentText("NORVALE_SIM_FAULTS")) {
        const ParsedSimFaults parsed = parseSimFaults(*faults);
        for (const std::string& item : parsed.rejected) {
            std::fprintf(stderr,
                         "norvale-sim: NORVALE_SIM_FAULTS: ignoring '%s' "
                         "(expected [K:]unplug@N, nodata@N or hang@N, N from 1, or "
                         "[K:]stuck@ADDRESS in hex)\n",
                         item.c_str());
        }
        const auto unknown = [&](unsigned number) {
            if (number <= phones && unitNumbered(number)) return false;
            std::fprintf(stderr, "norvale-sim: NORVALE_SIM_FAULTS: there is no phone %u\n", number);
            return true;
        };
        for (const std::uint32_t address : parsed.stuckBlocks) {
            if (phones == 1) {
                stickFlashBlock(address);
            } else if (Unit* first = unitNumbered(1)) {
                std::lock_guard lock(first->mutex);
                first->phone->stickBlock(address);
            }
        }
        for (const auto& [number, address] : parsed.phoneStuckBlocks) {
            if (unknown(number)) continue;
            Unit* unit = unitNumbered(number);
            std::lock_guard lock(unit->mutex);
            unit->phone->stickBlock(address);
        }
        for (SimFault fault : parsed.faults) {
            // With several phones an item that names none is the first phone's.
            if (fault.phone == 0 && phones > 1) fault.phone = 1;
            if (fault.phone == 0) {
                addFault(fault.kind, fault.transfer);
            } else if (!unknown(fault.phone)) {
                addFault(fault.phone, fault.kind, fault.transfer);
            }
        }
    }
    if (const auto path = environmentText("NORVALE_SIM_TRACE"); path && !path->empty()) {
        if (phones == 1) {
            if (traceToFile(*path)) {
                trace_.add(road == Road::usb ? "# road usb" : "# road driver");
            } else {
                std::fprintf(stderr, "norvale-sim: NORVALE_SIM_TRACE: can't open '%s'\n",
                             path->c_str());
            }
        }
        for (unsigned number = 1; phones > 1 && number <= phones; ++number) {
            const std::string file = numberedPath(*path, number);
            if (!traceToFile(number, file, road)) {
                std::fprintf(stderr, "norvale-sim: NORVALE_SIM_TRACE: can't open '%s'\n",
                             file.c_str());
            }
        }
    }
}

}  // namespace norvale
