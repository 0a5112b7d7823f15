// Journal lines parsed with nlohmann's JSON reader, a megabyte of the file at a time.
#include "report/ShiftJournal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace norvale {
namespace {

constexpr std::size_t kChunk = 1 << 20;

std::string textOf(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::int64_t numberOf(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_number_integer() ? found->get<std::int64_t>() : 0;
}

bool isStopReason(std::string_view reason) {
    return reason == "stopped_by_operator" || reason == "read_stopped_by_operator" ||
           reason == "write_interrupted";
}

// One line; false when it is no record.
bool readRecord(std::string_view line, const ShiftWindow& window, Shift& shift) {
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.is_object()) return false;
    const std::optional<std::int64_t> started = parseUtcTime(textOf(record, "started"));
    if (!started) return false;
    if ((window.since && *started < *window.since) || (window.until && *started >= *window.until)) {
        return true;
    }
    ShiftPhone phone;
    phone.started = *started;
    phone.ended = parseUtcTime(textOf(record, "ended")).value_or(*started);
    phone.place = shift.places.add(textOf(record, "location"));
    phone.road = shift.roads.add(textOf(record, "road"));
    phone.serial = textOf(record, "serial");
    phone.exitCode = static_cast<int>(numberOf(record, "exit_code"));
    const std::string reason = textOf(record, "reason");
    phone.reason = shift.reasons.add(reason);
    const std::string recipe = textOf(record, "recipe");
    phone.recipe = shift.recipes.add(recipe);
    if (shift.recipeDigests.size() < shift.recipes.size()) {
        shift.recipeDigests.push_back(textOf(record, "recipe_sha256"));
    }
    bool commandStopped = false;
    const auto commands = record.find("commands");
    if (commands != record.end() && commands->is_array()) {
        for (const nlohmann::json& command : *commands) {
            if (!command.is_object()) continue;
            const std::string result = textOf(command, "result");
            commandStopped = commandStopped || result == "stopped";
            const auto bytes =
                static_cast<std::uint64_t>(std::max<std::int64_t>(0, numberOf(command, "bytes")));
            const auto ms =
                static_cast<std::uint64_t>(std::max<std::int64_t>(0, numberOf(command, "ms")));
            phone.bytes += bytes;
            phone.ms += ms;
            if (bytes > 0 && ms > 0) {
                shift.movingBytes += bytes;
                shift.movingMs += ms;
            }
            if (result == "done" && command.contains("ms")) {
                const std::string text = textOf(command, "command");
                shift.stepMs[text.substr(0, text.find(' '))].push_back(
                    static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, UINT32_MAX)));
            }
        }
    }
    // A record may say its result itself; else it is read from how the run ended.
    const std::string result = textOf(record, "result");
    if (result == "done" || result == "failed" || result == "stopped") {
        phone.outcome = result == "done"     ? PhoneOutcome::done
                        : result == "failed" ? PhoneOutcome::failed
                                             : PhoneOutcome::stopped;
    } else if (phone.exitCode == 130 || isStopReason(reason) || commandStopped) {
        phone.outcome = PhoneOutcome::stopped;
    } else {
        phone.outcome = phone.exitCode == 0 ? PhoneOutcome::done : PhoneOutcome::failed;
    }
    shift.phones.push_back(std::move(phone));
    return true;
}

int digits(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
    return value;
}

}  // namespace

std::uint32_t NameTable::add(std::string_view name) {
    const auto found = index_.find(name);
    if (found != index_.end()) return found->second;
    const auto index = static_cast<std::uint32_t>(names_.size());
    names_.emplace_back(name);
    index_.emplace(std::string(name), index);
    return index;
}

void readJournal(FileSystem& files, const std::string& name, const ShiftWindow& window,
                 Shift& shift) {
    JournalRead read{name, false, 0};
    OpenedFile opened = files.openForReading(name);
    const std::optional<std::uint64_t> size = opened.file ? opened.file->size() : std::nullopt;
    if (!size) {
        shift.journals.push_back(read);
        return;
    }
    read.opened = true;
    std::string pending;
    std::vector<std::uint8_t> chunk;
    for (std::uint64_t offset = 0; offset < *size;) {
        chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, *size - offset)));
        if (!opened.file->readExact(chunk)) {
            read.opened = false;
            break;
        }
        offset += chunk.size();
        pending.append(chunk.begin(), chunk.end());
        std::size_t begin = 0;
        for (std::size_t end; (end = pending.find('\n', begin)) != std::string::npos;
             begin = end + 1) {
            const std::string_view line(pending.data() + begin, end - begin);
            if (!line.empty() && !readRecord(line, window, shift)) ++read.skipped;
        }
        pending.erase(0, begin);
    }
    // A last line without its end: whole when it reads as a record, else torn.
    if (!pending.empty() && !readRecord(pending, window, shift)) ++read.skipped;
    shift.journals.push_back(read);
}

std::optional<std::int64_t> parseUtcTime(std::string_view text) {
    // "YYYY-MM-DD" then, each optional in turn, "THH" (or " HH"), ":MM", ":SS", "Z".
    if (!text.empty() && text.back() == 'Z') text.remove_suffix(1);
    const auto isDigits = [&](std::size_t at, std::size_t count) {
        return at + count <= text.size() &&
               std::all_of(text.begin() + at, text.begin() + at + count,
                           [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!isDigits(0, 4) || text.size() < 10 || text[4] != '-' || !isDigits(5, 2) ||
        text[7] != '-' || !isDigits(8, 2)) {
        return std::nullopt;
    }
    int fields[3] = {0, 0, 0};
    std::size_t at = 10;
    for (int& field : fields) {
        if (at == text.size()) break;
        const char separator = text[at];
        const bool fits =
            &field == fields ? (separator == 'T' || separator == ' ') : separator == ':';
        if (!fits || !isDigits(at + 1, 2)) return std::nullopt;
        field = digits(text, at + 1, 2);
        at += 3;
    }
    if (at != text.size()) return std::nullopt;
    const std::chrono::year_month_day date{
        std::chrono::year{digits(text, 0, 4)},
        std::chrono::month{static_cast<unsigned>(digits(text, 5, 2))},
        std::chrono::day{static_cast<unsigned>(digits(text, 8, 2))}};
    if (!date.ok() || fields[0] > 23 || fields[1] > 59 || fields[2] > 60) return std::nullopt;
    const auto days = std::chrono::sys_days(date).time_since_epoch().count();
    return std::int64_t{days} * 86400 + fields[0] * 3600 + fields[1] * 60 + fields[2];
}

std::string minuteText(std::int64_t seconds) {
    const std::int64_t day = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{day}}};
    const std::int64_t rest = seconds - day * 86400;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60));
    return text;
}

std::string hourText(std::int64_t seconds) {
    return minuteText(seconds - ((seconds % 3600) + 3600) % 3600);
}

}  // namespace norvale
