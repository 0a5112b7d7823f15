// The simulated driver: record checks, faults, trace and the enumeration of attached phones.
#include "SimDriver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "protocol/DriverPhoneLink.h"

namespace norvale {
namespace {

constexpr std::string_view kClassKey = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\"
                                       "{4e1e1e15-52d7-11d4-852d-00105aa6f80b}\\";
constexpr std::uint16_t kManufacturerSelector = 0x0103;
constexpr std::uint16_t kInterfaceSelector = 0x0002;
// The fixed part of SP_DEVICE_INTERFACE_DETAIL_DATA_A in the 32-bit layout.
constexpr std::uint32_t kDetailHeaderSize = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;

std::uint32_t littleEndian32(std::span<const std::uint8_t> bytes) {
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
           (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

void putLittleEndian32(std::span<std::uint8_t> out, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Paths and registry keys compare without regard to ASCII case, as Windows compares them.
bool sameName(const std::string& a, const std::string& b) {
    const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
               return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y));
           });
}

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

std::string failed(std::string line) { return line + " FAIL"; }

// Several faults at one transfer: removal outranks a hang, which outranks a lost reply.
std::optional<SimFaultKind> stronger(std::optional<SimFaultKind> a, std::optional<SimFaultKind> b) {
    const auto rank = [](SimFaultKind kind) {
        return kind == SimFaultKind::unplug ? 0 : kind == SimFaultKind::hang ? 1 : 2;
    };
    if (!a) return b;
    if (!b) return a;
    return rank(*b) < rank(*a) ? b : a;
}

std::optional<SimFaultKind> faultAt(const std::vector<SimFault>& faults, std::uint64_t transfer) {
    std::optional<SimFaultKind> chosen;
    for (const SimFault& fault : faults) {
        if (fault.transfer == transfer) chosen = stronger(chosen, fault.kind);
    }
    return chosen;
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

// The hex is left out when the trace goes nowhere: for a 4096-byte transfer it is most of the
// simulator's time, which a long dump with no trace kept would spend for nothing.
std::string SimDriver::withHex(const Unit* unit, std::string line,
                               std::span<const std::uint8_t> bytes) const {
    if (!bytes.empty() && tracing(unit)) line += ' ' + SimTrace::hex(bytes);
    return line;
}

bool SimDriver::tracing(const Unit* unit) const {
    return trace_.active() || (unit && unit->trace.active());
}

void SimDriver::traceLine(Unit* unit, const std::string& line) {
    trace_.add(line);
    if (unit) unit->trace.add(line);
}

SimDriver::SimDriver(Clock& clock) : clock_(clock) {}

SimDriver::~SimDriver() {
    std::unique_lock lock(mutex_);
    for (auto& iface : interfaces_) detachLocked(*iface);
    changed_.wait(lock, [&] { return watchers_ == 0; });
}

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
    const bool numbered = phonesText && !phonesText->empty();
    for (unsigned number = 1; number <= phones; ++number) {
        SimInterfaceOptions options;
        options.road = road;
        if (numbered) {
            const std::string location = "sim-" + std::to_string(number);
            options.devicePath = road == Road::usb ? location
                                                   : "\\\\?\\usb#vid_22b8&pid_4903#" + location +
                                                         "#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";
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

bool SimDriver::traceToFile(unsigned phoneNumber, const std::string& path, Road road) {
    Unit* unit = unitNumbered(phoneNumber);
    if (!unit || !unit->trace.appendToFile(path)) return false;
    unit->trace.add(road == Road::usb ? "# road usb" : "# road driver");
    return true;
}

std::vector<std::string> SimDriver::traceOf(unsigned phoneNumber) const {
    const Unit* unit = unitNumbered(phoneNumber);
    return unit ? unit->trace.lines() : std::vector<std::string>{};
}

void SimDriver::keepTrace(bool keep) {
    trace_.keepInMemory(keep);
    std::lock_guard lock(mutex_);
    keepTraces_ = keep;
    for (const auto& unit : units_) unit->trace.keepInMemory(keep);
}

std::shared_ptr<SimDriver::Unit> SimDriver::unitForLocked(std::shared_ptr<SimPhone> phone) {
    for (const auto& unit : units_) {
        if (unit->phone == phone) return unit;
    }
    auto unit = std::make_shared<Unit>();
    unit->number = static_cast<unsigned>(units_.size() + 1);
    unit->phone = std::move(phone);
    unit->trace.keepInMemory(keepTraces_);
    units_.push_back(unit);
    return unit;
}

SimDriver::Unit* SimDriver::unitNumbered(unsigned number) const {
    std::lock_guard lock(mutex_);
    if (number == 0 || number > units_.size()) return nullptr;
    return units_[number - 1].get();
}

unsigned SimDriver::addPhone(std::shared_ptr<SimPhone> phone) {
    std::shared_ptr<Unit> unit;
    std::vector<std::uint32_t> stuck;
    {
        std::lock_guard lock(mutex_);
        const std::size_t before = units_.size();
        unit = unitForLocked(std::move(phone));
        if (units_.size() == before) return unit->number;
        stuck = stuckBlocks_;
    }
    std::lock_guard lock(unit->mutex);
    for (const std::uint32_t address : stuck) unit->phone->stickBlock(address);
    return unit->number;
}

unsigned SimDriver::phoneNumber(SimInterfaceId id) const {
    std::lock_guard lock(mutex_);
    const Interface* iface = findById(id);
    return iface ? iface->unit->number : 0;
}

void SimDriver::attachAt(std::uint64_t dueMs, SimInterfaceOptions options,
                         std::shared_ptr<SimPhone> phone) {
    if (!phone) phone = std::make_shared<SimPhone>();
    addPhone(phone);
    std::lock_guard lock(mutex_);
    pending_.push_back({dueMs, std::move(options), unitForLocked(std::move(phone))});
}

void SimDriver::returnAfterStart(std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    returnMs_ = ms;
}

std::vector<SimInterfaceId> SimDriver::interfaceIds() const {
    std::lock_guard lock(mutex_);
    std::vector<SimInterfaceId> ids;
    for (const auto& iface : interfaces_) ids.push_back(iface->id);
    return ids;
}

void SimDriver::attachDueLocked() {
    const std::uint64_t now = clock_.nowMs();
    // In the order they fall due, so phones that come together attach in the order asked.
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const auto& a, const auto& b) { return a.dueMs < b.dueMs; });
    while (!pending_.empty() && pending_.front().dueMs <= now) {
        PendingArrival arrival = std::move(pending_.front());
        pending_.erase(pending_.begin());
        attachLocked(std::move(arrival.options), std::move(arrival.unit));
    }
}

SimInterfaceId SimDriver::attach(SimInterfaceOptions options, std::shared_ptr<SimPhone> phone) {
    if (!phone) phone = std::make_shared<SimPhone>();
    addPhone(phone);
    std::lock_guard lock(mutex_);
    return attachLocked(std::move(options), unitForLocked(std::move(phone)));
}

SimInterfaceId SimDriver::attachLocked(SimInterfaceOptions options, std::shared_ptr<Unit> unit) {
    auto iface = std::make_shared<Interface>();
    iface->id = nextId_++;
    if (options.devicePath.empty() && options.road == Road::usb) {
        options.devicePath = "1-" + std::to_string(iface->id);  // bus 1, the port numbered after it
    } else if (options.devicePath.empty()) {
        options.devicePath = "\\\\?\\usb#vid_22b8&pid_4903#5&1b2c3d4e&0&" +
                             std::to_string(iface->id) + "#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";
    }
    iface->registryKey = registryKeyFor(options.devicePath);
    iface->options = std::move(options);
    iface->phone = unit->phone;
    iface->unit = std::move(unit);
    interfaces_.push_back(iface);
    return iface->id;
}

bool SimDriver::detach(SimInterfaceId id) {
    std::lock_guard lock(mutex_);
    Interface* iface = findById(id);
    if (!iface || !iface->attached) return false;
    detachLocked(*iface);
    return true;
}

void SimDriver::detachAll() {
    std::lock_guard lock(mutex_);
    for (auto& iface : interfaces_) detachLocked(*iface);
}

bool SimDriver::attached(SimInterfaceId id) const {
    std::lock_guard lock(mutex_);
    const Interface* iface = findById(id);
    return iface && iface->attached;
}

std::shared_ptr<SimPhone> SimDriver::phone(SimInterfaceId id) const {
    std::lock_guard lock(mutex_);
    const Interface* iface = findById(id);
    return iface ? iface->phone : nullptr;
}

std::string SimDriver::devicePathOf(SimInterfaceId id) const {
    std::lock_guard lock(mutex_);
    const Interface* iface = findById(id);
    return iface ? iface->options.devicePath : std::string{};
}

std::string SimDriver::registryKeyOf(SimInterfaceId id) const {
    std::lock_guard lock(mutex_);
    const Interface* iface = findById(id);
    return iface ? iface->registryKey : std::string{};
}

std::string SimDriver::registryKeyFor(const std::string& devicePath) {
    // The system files the interface under its path with "\\?\" turned into "##?#".
    std::string key{kClassKey};
    const std::size_t pathStart = key.size();
    key += devicePath;
    key += "\\#\\Control";
    for (std::size_t offset : {0u, 1u, 3u}) {
        if (offset < devicePath.size()) key[pathStart + offset] = '#';
    }
    return key;
}

unsigned SimDriver::openAttempts(SimInterfaceId id) const {
    std::lock_guard lock(mutex_);
    const Interface* iface = findById(id);
    return iface ? iface->openAttempts : 0;
}

void SimDriver::setOpenSetFails(bool fails) {
    std::lock_guard lock(mutex_);
    openSetFails_ = fails;
}

void SimDriver::addFault(SimFaultKind kind, std::uint64_t transfer) {
    std::lock_guard lock(mutex_);
    faults_.push_back({kind, transfer});
}

void SimDriver::addFault(unsigned phoneNumber, SimFaultKind kind, std::uint64_t transfer) {
    Unit* unit = unitNumbered(phoneNumber);
    if (!unit) return;
    std::lock_guard lock(unit->mutex);
    unit->faults.push_back({kind, transfer, phoneNumber});
}

void SimDriver::stickFlashBlock(std::uint32_t address) {
    std::vector<std::shared_ptr<Unit>> units;
    {
        std::lock_guard lock(mutex_);
        stuckBlocks_.push_back(address);
        units = units_;
    }
    for (const auto& unit : units) {
        std::lock_guard lock(unit->mutex);
        unit->phone->stickBlock(address);
    }
}

void SimDriver::clearFaults() {
    std::vector<std::shared_ptr<Unit>> units;
    {
        std::lock_guard lock(mutex_);
        faults_.clear();
        units = units_;
    }
    for (const auto& unit : units) {
        std::lock_guard lock(unit->mutex);
        unit->faults.clear();
    }
}

std::uint64_t SimDriver::pipeTransfers() const {
    std::lock_guard lock(mutex_);
    return transfers_;
}

std::uint64_t SimDriver::pipeTransfersOf(unsigned phoneNumber) const {
    Unit* unit = unitNumbered(phoneNumber);
    if (!unit) return 0;
    std::lock_guard lock(unit->mutex);
    return unit->transfers;
}

void SimDriver::modelFullSpeed(bool on) { fullSpeed_.store(on); }

double SimDriver::modelledMs() const {
    std::lock_guard lock(mutex_);
    std::uint64_t slot = clock_.nowMs() * FullSpeedBus::kSlotsPerFrame;
    for (const auto& unit : units_) slot = std::max(slot, unit->hostSlot.load());
    return static_cast<double>(slot) / FullSpeedBus::kSlotsPerFrame;
}

SimUsbQueueCounters SimDriver::queueCounters() const {
    std::lock_guard lock(mutex_);
    SimUsbQueueCounters counters = queueCounters_;
    counters.liveQueues = queues_.size();
    return counters;
}

SimEnumerationCounters SimDriver::counters() const {
    std::lock_guard lock(mutex_);
    SimEnumerationCounters counters = counters_;
    counters.liveSets = sets_.size();
    counters.liveHandles = handles_.size();
    return counters;
}

unsigned SimDriver::watchersWaiting() const {
    std::lock_guard lock(mutex_);
    return watchers_;
}

bool SimDriver::waitForWatchers(unsigned count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return watchers_ >= count; });
}

ControlResult SimDriver::control(DeviceHandle device, std::uint32_t code,
                                 std::span<const std::uint8_t> input,
                                 std::span<std::uint8_t> output, std::uint32_t waitMs) {
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
    if (outcome.sleepMs != 0) clock_.sleep(outcome.sleepMs);
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
        traceLine(unit, failed(line));
        return {};
    }
    if (fault == SimFaultKind::hang) {
        traceLine(unit, failed(line));
        return {{}, waitMs};
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
        traceLine(unit, failed(line));
        return {};
    }
    if (fault == SimFaultKind::hang) {
        traceLine(unit, failed(line));
        return {{}, waitMs};
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
        traceLine(unit, failed(head));
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

std::shared_ptr<SimDriver::Unit> SimDriver::unitOf(DeviceHandle device) const {
    std::lock_guard lock(mutex_);
    const auto handle = handles_.find(device.bits);
    if (!device.valid() || handle == handles_.end()) return nullptr;
    return handle->second->unit;
}

std::optional<SimFaultKind> SimDriver::numberTransfer(Unit* unit, DeviceHandle device) {
    std::optional<SimFaultKind> fault;
    {
        std::lock_guard lock(mutex_);
        fault = faultAt(faults_, ++transfers_);
    }
    if (unit) fault = stronger(fault, faultAt(unit->faults, ++unit->transfers));
    if (fault == SimFaultKind::unplug) {
        std::lock_guard lock(mutex_);
        unplugFor(device);
    }
    return fault;
}

void SimDriver::phoneWrote(Interface& target, SimPhone::WriteEffect effect) {
    if (effect != SimPhone::WriteEffect::leftFlashMode) return;
    std::lock_guard lock(mutex_);
    detachLocked(target);
    // It comes back as a phone that has just booted: SimPhone::write power-cycled it.
    if (returnMs_) pending_.push_back({clock_.nowMs() + *returnMs_, target.options, target.unit});
}

void SimDriver::unplugFor(DeviceHandle device) {
    // The phone the request is for; a request that names none takes the first attached phone.
    Interface* target = attachedTarget(device, Road::driver);
    if (!target) target = attachedTarget(device, Road::usb);
    if (!target) {
        for (auto& iface : interfaces_) {
            if (iface->attached) {
                target = iface.get();
                break;
            }
        }
    }
    if (target) detachLocked(*target);
}

std::uint64_t SimDriver::hostSlot(Unit* unit) {
    if (!unit) return clock_.nowMs() * FullSpeedBus::kSlotsPerFrame;
    unit->hostSlot.store(
        std::max(unit->hostSlot.load(), clock_.nowMs() * FullSpeedBus::kSlotsPerFrame));
    return unit->hostSlot.load();
}

std::uint32_t SimDriver::busTime(Unit* unit, std::size_t bytes,
                                 std::optional<std::uint64_t> submitted) {
    if (!fullSpeed_.load() || !unit) return 0;
    const std::uint64_t now = hostSlot(unit);
    unit->hostSlot.store(std::max(now, unit->bus.schedule(submitted.value_or(now), bytes)));
    const std::uint64_t clockMs = unit->hostSlot.load() / FullSpeedBus::kSlotsPerFrame;
    const std::uint64_t clockNow = clock_.nowMs();
    return clockMs > clockNow ? static_cast<std::uint32_t>(clockMs - clockNow) : 0;
}

SimDriver::Interface* SimDriver::findById(SimInterfaceId id) const {
    for (const auto& iface : interfaces_) {
        if (iface->id == id) return iface.get();
    }
    return nullptr;
}

SimDriver::Interface* SimDriver::attachedNow(DeviceHandle device, Road road) const {
    std::lock_guard lock(mutex_);
    return attachedTarget(device, road);
}

SimDriver::Interface* SimDriver::attachedTarget(DeviceHandle device, Road road) const {
    const auto handle = handles_.find(device.bits);
    if (!device.valid() || handle == handles_.end() || !handle->second->attached) return nullptr;
    if (handle->second->options.road != road) return nullptr;
    return handle->second.get();
}

void SimDriver::detachLocked(Interface& iface) {
    iface.attached = false;
    changed_.notify_all();
}

DeviceSet SimDriver::openSet() {
    std::lock_guard lock(mutex_);
    attachDueLocked();
    if (openSetFails_) return {};
    ++counters_.setsOpened;
    // Like SetupAPI, the set is a snapshot: a phone attached later is not in it.
    std::vector<std::shared_ptr<Interface>> members;
    for (const auto& iface : interfaces_) {
        if (iface->attached && iface->options.road == Road::driver) members.push_back(iface);
    }
    const std::uintptr_t bits = nextSet_;
    nextSet_ += 8;
    sets_.emplace(bits, std::move(members));
    return {bits};
}

std::optional<InterfaceRef> SimDriver::member(DeviceSet set, std::uint32_t index) {
    std::lock_guard lock(mutex_);
    ++counters_.memberCalls;
    const auto found = sets_.find(set.bits);
    if (found == sets_.end()) {
        ++counters_.unknownSetCalls;
        return std::nullopt;
    }
    if (index >= found->second.size()) return std::nullopt;
    return InterfaceRef{found->second[index]->id, index};
}

SimDriver::Interface* SimDriver::setMember(DeviceSet set, const InterfaceRef& member) {
    const auto found = sets_.find(set.bits);
    if (found == sets_.end()) {
        ++counters_.unknownSetCalls;
        return nullptr;
    }
    if (member.index >= found->second.size()) return nullptr;
    Interface* iface = found->second[member.index].get();
    return iface->id == member.bits ? iface : nullptr;
}

DetailSizeResult SimDriver::detailSize(DeviceSet set, const InterfaceRef& member) {
    std::lock_guard lock(mutex_);
    ++counters_.detailSizeCalls;
    const Interface* iface = setMember(set, member);
    if (!iface) return {false, kErrorInvalidHandle, 0};
    if (iface->options.sizeQueryError != 0) return {false, iface->options.sizeQueryError, 0};
    const auto size = kDetailHeaderSize + iface->options.devicePath.size() + 1;
    return {true, kErrorInsufficientBuffer, static_cast<std::uint32_t>(size)};
}

std::optional<std::string> SimDriver::devicePath(DeviceSet set, const InterfaceRef& member,
                                                 std::uint32_t requiredSize) {
    std::lock_guard lock(mutex_);
    ++counters_.devicePathCalls;
    const Interface* iface = setMember(set, member);
    if (!iface || iface->options.failDetailFetch) return std::nullopt;
    if (requiredSize < kDetailHeaderSize + iface->options.devicePath.size() + 1) {
        return std::nullopt;
    }
    ++counters_.pathsDelivered;
    return iface->options.devicePath;
}

void SimDriver::closeSet(DeviceSet set) {
    std::lock_guard lock(mutex_);
    if (sets_.erase(set.bits) == 0) ++counters_.badSetCloses;
}

DeviceHandle SimDriver::open(const std::string& devicePath) {
    std::lock_guard lock(mutex_);
    ++counters_.openCalls;
    for (const auto& iface : interfaces_) {
        if (!iface->attached || !sameName(iface->options.devicePath, devicePath)) continue;
        ++iface->openAttempts;
        if (iface->options.failOpen) return kInvalidDevice;
        const DeviceHandle handle{nextHandle_};
        nextHandle_ += 4;
        handles_.emplace(handle.bits, iface);
        return handle;
    }
    return kInvalidDevice;
}

void SimDriver::close(DeviceHandle device) {
    std::lock_guard lock(mutex_);
    if (!device.valid() || handles_.erase(device.bits) == 0) ++counters_.badHandleCloses;
}

bool SimDriver::waitForChange(const std::string& keyPath, std::stop_token stop) {
    return waitUntilDetached(
        [&](const Interface& iface) {
            return iface.options.road == Road::driver && sameName(iface.registryKey, keyPath);
        },
        stop);
}

std::vector<std::string> SimDriver::listPhones() {
    std::lock_guard lock(mutex_);
    attachDueLocked();
    std::vector<std::string> phones;
    for (const auto& iface : interfaces_) {
        if (iface->attached && iface->options.road == Road::usb) {
            phones.push_back(iface->options.devicePath);
        }
    }
    return phones;
}

std::uint32_t SimDriver::maxPacketSize(DeviceHandle device) {
    std::lock_guard lock(mutex_);
    // Known from the descriptors read at the open, so it outlives the device's removal.
    const auto handle = handles_.find(device.bits);
    if (!device.valid() || handle == handles_.end()) return 0;
    if (handle->second->options.road != Road::usb) return 0;
    return handle->second->options.usbMaxPacketSize;
}

UsbTransfer SimDriver::bulkOut(DeviceHandle device, std::span<const std::uint8_t> data,
                               std::uint32_t waitMs) {
    UsbOutcome outcome;
    {
        const std::shared_ptr<Unit> unit = unitOf(device);
        std::unique_lock<std::mutex> phoneLock;
        if (unit) phoneLock = std::unique_lock(unit->mutex);
        outcome = usbOut(unit.get(), device, data, waitMs);
    }
    if (outcome.sleepMs != 0) clock_.sleep(outcome.sleepMs);
    return outcome.result;
}

UsbTransfer SimDriver::bulkIn(DeviceHandle device, std::span<std::uint8_t> buffer,
                              std::uint32_t waitMs) {
    UsbOutcome outcome;
    {
        const std::shared_ptr<Unit> unit = unitOf(device);
        std::unique_lock<std::mutex> phoneLock;
        if (unit) phoneLock = std::unique_lock(unit->mutex);
        outcome = usbIn(unit.get(), device, buffer, waitMs);
    }
    if (outcome.sleepMs != 0) clock_.sleep(outcome.sleepMs);
    return outcome.result;
}

SimDriver::UsbOutcome SimDriver::usbOut(Unit* unit, DeviceHandle device,
                                        std::span<const std::uint8_t> data, std::uint32_t waitMs) {
    const std::optional<SimFaultKind> fault = numberTransfer(unit, device);
    Interface* target = attachedNow(device, Road::usb);
    const std::string line = withHex(unit, "W " + std::to_string(kPipe), data);
    if (!target) {
        traceLine(unit, failed(line));
        return {{UsbStatus::gone, 0}, 0};
    }
    if (fault == SimFaultKind::hang) {
        traceLine(unit, failed(line));
        return {{UsbStatus::timedOut, 0}, waitMs};
    }
    // nodata on a write: the transfer completes, but the bytes never reach the phone.
    if (fault != SimFaultKind::nodata) phoneWrote(*target, target->phone->write(data));
    traceLine(unit, line);
    return {{UsbStatus::done, static_cast<std::uint32_t>(data.size())}, busTime(unit, data.size())};
}

SimDriver::UsbOutcome SimDriver::usbIn(Unit* unit, DeviceHandle device,
                                       std::span<std::uint8_t> buffer, std::uint32_t waitMs) {
    QueuedIn transfer{static_cast<std::uint32_t>(buffer.size()), hostSlot(unit)};
    return serveIn(unit, device, transfer, buffer, waitMs);
}

SimDriver::UsbOutcome SimDriver::serveIn(Unit* unit, DeviceHandle device, QueuedIn& transfer,
                                         std::span<std::uint8_t> buffer, std::uint32_t waitMs) {
    std::optional<SimFaultKind> fault;
    if (!transfer.numbered) {
        transfer.numbered = true;
        fault = numberTransfer(unit, device);
    }
    Interface* target = attachedNow(device, Road::usb);
    const std::string line = "R " + std::to_string(kPipe) + ' ' + std::to_string(buffer.size());
    if (!target) {
        traceLine(unit, failed(line));
        return {{UsbStatus::gone, 0}, 0};
    }
    const std::uint32_t packet = target->options.usbMaxPacketSize;
    if (packet == 0 || buffer.size() % packet != 0 || buffer.empty()) {
        // A request that is no whole number of packets could overflow on a real device.
        traceLine(unit, failed(line));
        return {{UsbStatus::failed, 0}, 0};
    }
    if (transfer.hung || fault == SimFaultKind::hang) {
        if (!transfer.hung) traceLine(unit, failed(line));
        transfer.hung = true;
        return {{UsbStatus::timedOut, 0}, waitMs};
    }
    if (fault == SimFaultKind::nodata) {
        traceLine(unit, line);  // one zero-length packet; the phone's reply, if any, waits
        return {{UsbStatus::done, 0}, busTime(unit, 0, transfer.submittedSlot)};
    }
    const Bytes data = target->phone->read(static_cast<std::uint32_t>(buffer.size()));
    if (data.empty()) {
        // Nothing to say: the device answers NAK until the host gives up.
        traceLine(unit, failed(line));
        return {{UsbStatus::timedOut, 0}, waitMs};
    }
    std::copy(data.begin(), data.end(), buffer.begin());
    traceLine(unit, withHex(unit, line, data));
    return {{UsbStatus::done, static_cast<std::uint32_t>(data.size())},
            busTime(unit, data.size(), transfer.submittedSlot)};
}

// A queue's transfers live in the driver, under their phone's lock, so cancel() may reach them
// from any thread; the queue object is the host's handle on them.
class SimDriver::InQueue final : public UsbInQueue {
public:
    InQueue(SimDriver& driver, DeviceHandle device, std::shared_ptr<Unit> unit)
        : driver_(driver), device_(device), unit_(std::move(unit)) {}
    InQueue(const InQueue&) = delete;
    InQueue& operator=(const InQueue&) = delete;
    ~InQueue() override { driver_.closeQueue(*this); }

    bool submit(std::uint32_t size) override { return driver_.submitQueued(*this, size); }
    UsbReaped reap(std::uint32_t waitMs) override {
        UsbOutcome outcome;
        {
            std::lock_guard lock(unit_->mutex);
            outcome = driver_.reapQueued(*this, waitMs);
        }
        if (outcome.sleepMs != 0) driver_.clock_.sleep(outcome.sleepMs);
        const std::size_t length =
            std::min<std::size_t>(outcome.result.transferred, buffer_.size());
        return {outcome.result, std::span(buffer_).first(length)};
    }

private:
    friend class SimDriver;
    SimDriver& driver_;
    DeviceHandle device_;
    std::shared_ptr<Unit> unit_;
    std::deque<QueuedIn> transfers_;  // under the unit's lock
    Bytes buffer_;                    // the bytes of the transfer reaped last
};

std::unique_ptr<UsbInQueue> SimDriver::openInQueue(DeviceHandle device) {
    std::lock_guard lock(mutex_);
    const auto handle = handles_.find(device.bits);
    if (!device.valid() || handle == handles_.end() || handle->second->options.road != Road::usb) {
        return nullptr;
    }
    auto queue = std::make_unique<InQueue>(*this, device, handle->second->unit);
    queues_.push_back(queue.get());
    return queue;
}

bool SimDriver::submitQueued(InQueue& queue, std::uint32_t size) {
    std::lock_guard phoneLock(queue.unit_->mutex);
    std::lock_guard lock(mutex_);
    // A closed handle is refused at once; a device that went is found out when the transfer is
    // served, as it would be on the bus.
    if (handles_.find(queue.device_.bits) == handles_.end()) return false;
    queue.transfers_.push_back({size, hostSlot(queue.unit_.get())});
    ++queueCounters_.submitted;
    queueCounters_.mostOutstanding =
        std::max(queueCounters_.mostOutstanding, queue.transfers_.size());
    return true;
}

SimDriver::UsbOutcome SimDriver::reapQueued(InQueue& queue, std::uint32_t waitMs) {
    if (queue.transfers_.empty()) return {{UsbStatus::failed, 0}, 0};
    QueuedIn& transfer = queue.transfers_.front();
    UsbOutcome outcome;
    if (transfer.cancelled) {
        outcome = {{UsbStatus::failed, 0}, 0};
    } else {
        queue.buffer_.resize(transfer.size);
        outcome = serveIn(queue.unit_.get(), queue.device_, transfer, queue.buffer_, waitMs);
    }
    // Still outstanding after a timeout: the phone may yet answer, or the host gives up.
    if (outcome.result.status == UsbStatus::timedOut) return outcome;
    if (!transfer.cancelled) {
        std::lock_guard lock(mutex_);
        ++queueCounters_.reaped;
    }
    queue.transfers_.pop_front();
    return outcome;
}

void SimDriver::closeQueue(InQueue& queue) {
    std::lock_guard phoneLock(queue.unit_->mutex);
    std::lock_guard lock(mutex_);
    for (const QueuedIn& transfer : queue.transfers_) {
        if (!transfer.cancelled) ++queueCounters_.cancelled;
    }
    queues_.erase(std::find(queues_.begin(), queues_.end(), &queue));
}

void SimDriver::cancel(DeviceHandle device) {
    // The phones whose queues hold transfers for the device, then each under its own lock; a
    // queue closed meanwhile is no longer in the list.
    std::vector<std::shared_ptr<Unit>> units;
    {
        std::lock_guard lock(mutex_);
        for (InQueue* queue : queues_) {
            if (queue->device_ == device) units.push_back(queue->unit_);
        }
    }
    for (const auto& unit : units) {
        std::lock_guard phoneLock(unit->mutex);
        std::lock_guard lock(mutex_);
        for (InQueue* queue : queues_) {
            if (queue->device_ != device || queue->unit_ != unit) continue;
            for (QueuedIn& transfer : queue->transfers_) {
                if (!transfer.cancelled) ++queueCounters_.cancelled;
                transfer.cancelled = true;
            }
        }
    }
}

UsbTransfer SimDriver::stringDescriptor(DeviceHandle device, UsbString which,
                                        std::span<std::uint8_t> buffer) {
    const std::shared_ptr<Unit> unit = unitOf(device);
    std::unique_lock<std::mutex> phoneLock;
    if (unit) phoneLock = std::unique_lock(unit->mutex);
    const std::uint16_t selector =
        which == UsbString::manufacturer ? kManufacturerSelector : kInterfaceSelector;
    char head[16];
    std::snprintf(head, sizeof head, "Q %04x", static_cast<unsigned>(selector));
    const Interface* target = attachedNow(device, Road::usb);
    if (!target) {
        traceLine(unit.get(), failed(head));
        return {UsbStatus::gone, 0};
    }
    const std::string& text = which == UsbString::manufacturer ? target->options.manufacturerString
                                                               : target->options.interfaceString;
    // bLength is one byte: at most 126 UTF-16 units follow the two header bytes.
    const std::size_t units = std::min<std::size_t>(text.size(), 126);
    Bytes descriptor(2 + 2 * units, 0);
    descriptor[0] = static_cast<std::uint8_t>(descriptor.size());
    descriptor[1] = 3;
    for (std::size_t i = 0; i < units; ++i)
        descriptor[2 + 2 * i] = static_cast<std::uint8_t>(text[i]);
    const std::size_t delivered = std::min(descriptor.size(), buffer.size());
    std::copy_n(descriptor.begin(), delivered, buffer.begin());
    traceLine(unit.get(),
              withHex(unit.get(), head,
                      Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(units))));
    return {UsbStatus::done, static_cast<std::uint32_t>(delivered)};
}

bool SimDriver::waitForRemoval(const std::string& location, std::stop_token stop) {
    return waitUntilDetached(
        [&](const Interface& iface) {
            return iface.options.road == Road::usb && iface.options.devicePath == location;
        },
        stop);
}

bool SimDriver::waitUntilDetached(const std::function<bool(const Interface&)>& watches,
                                  const std::stop_token& stop) {
    // The wake takes the lock, so it can't fall between the waiter's look at the stop and its
    // wait. Registered before the lock is taken (a stop already requested runs it at once) and
    // gone after it is released (its destruction waits for a wake in progress).
    const std::stop_callback wake(stop, [this] {
        const std::lock_guard lock(mutex_);
        changed_.notify_all();
    });
    std::unique_lock lock(mutex_);
    std::shared_ptr<Interface> watched;
    for (const auto& iface : interfaces_) {
        if (iface->attached && watches(*iface)) watched = iface;
    }
    if (!watched || stop.stop_requested()) return false;
    ++watchers_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !watched->attached || stop.stop_requested(); });
    --watchers_;
    changed_.notify_all();
    return !stop.stop_requested();
}

}  // namespace norvale
