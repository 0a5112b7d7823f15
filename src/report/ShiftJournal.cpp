// Journal lines parsed with nlohmann's JSON reader, a megabyte of the file at a time.
#include "report/ShiftJournal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace norvale {
namespace {

constexpr std::size_t kChunk = 1 << 20;

// The fields of one line the report keeps, as nlohmann's SAX reader hands them over: no tree is
// built for the line, which makes a large journal's read about twice as fast.
struct LineFields {
    struct Command {
        std::string text;
        std::string result;
        std::uint64_t bytes = 0;
        std::uint64_t ms = 0;
        bool timed = false;  // the line gave its "ms"
    };
    std::string started, ended, location, road, serial, reason, recipe, recipeSha256, result;
    std::int64_t exitCode = 0;
    std::vector<Command> commands;
};

// Depth 1 is the record's object, 2 its "commands" array, 3 a command's object; a command's
// "files" and anything unknown lie deeper and are passed over.
class LineReader final : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit LineReader(LineFields& fields) : fields_(fields) {}

    bool null() override { return true; }
    bool boolean(bool /*value*/) override { return true; }
    bool number_integer(number_integer_t value) override { return number(value); }
    bool number_unsigned(number_unsigned_t value) override {
        return number(static_cast<std::int64_t>(std::min<number_unsigned_t>(value, INT64_MAX)));
    }
    bool number_float(number_float_t /*value*/, const string_t& /*text*/) override { return true; }
    bool binary(binary_t& /*value*/) override { return true; }
    bool string(string_t& value) override {
        if (std::string* field = textField()) *field = std::move(value);
        return true;
    }
    bool start_object(std::size_t /*size*/) override {
        ++depth_;
        if (depth_ == 3 && inCommands_) fields_.commands.emplace_back();
        return depth_ > 1 || objects_++ == 0;
    }
    bool key(string_t& name) override {
        if (depth_ <= 3) key_ = std::move(name);
        return true;
    }
    bool end_object() override {
        --depth_;
        return true;
    }
    bool start_array(std::size_t /*size*/) override {
        ++depth_;
        inCommands_ = inCommands_ || (depth_ == 2 && key_ == "commands");
        return depth_ > 1;
    }
    bool end_array() override {
        if (depth_ == 2) inCommands_ = false;
        --depth_;
        return true;
    }
    bool parse_error(std::size_t /*position*/, const std::string& /*token*/,
                     const nlohmann::detail::exception& /*error*/) override {
        return false;
    }

private:
    bool number(std::int64_t value) {
        if (depth_ == 1 && key_ == "exit_code") fields_.exitCode = value;
        if (depth_ == 3 && inCommands_) {
            const auto amount = static_cast<std::uint64_t>(std::max<std::int64_t>(0, value));
            if (key_ == "bytes") fields_.commands.back().bytes = amount;
            if (key_ == "ms") {
                fields_.commands.back().ms = amount;
                fields_.commands.back().timed = true;
            }
        }
        return true;
    }
    std::string* textField() {
        if (depth_ == 3 && inCommands_) {
            if (key_ == "command") return &fields_.commands.back().text;
            if (key_ == "result") return &fields_.commands.back().result;
            return nullptr;
        }
        if (depth_ != 1) return nullptr;
        for (const auto& [name, field] : {std::pair{"started", &fields_.started},
                                          {"ended", &fields_.ended},
                                          {"location", &fields_.location},
                                          {"road", &fields_.road},
                                          {"serial", &fields_.serial},
                                          {"reason", &fields_.reason},
                                          {"recipe", &fields_.recipe},
                                          {"recipe_sha256", &fields_.recipeSha256},
                                          {"result", &fields_.result}}) {
            if (key_ == name) return field;
        }
        return nullptr;
    }

    LineFields& fields_;
    int depth_ = 0;
    int objects_ = 0;
    bool inCommands_ = false;
    std::string key_;
};

bool isStopReason(std::string_view reason) {
    return reason == "stopped_by_operator" || reason == "read_stopped_by_operator" ||
           reason == "write_interrupted";
}

// One line; false when it is no record.
bool readRecord(std::string_view line, const ShiftWindow& window, Shift& shift) {
    LineFields record;
    LineReader reader(record);
    if (!nlohmann::json::sax_parse(line.begin(), line.end(), &reader)) return false;
    const std::optional<std::int64_t> started = parseUtcTime(record.started);
    if (!started) return false;
    if ((window.since && *started < *window.since) || (window.until && *started >= *window.until)) {
        return true;
    }
    ShiftPhone phone;
    phone.started = *started;
    phone.ended = parseUtcTime(record.ended).value_or(*started);
    phone.place = shift.places.add(record.location);
    phone.road = shift.roads.add(record.road);
    phone.serial = std::move(record.serial);
    phone.exitCode = static_cast<int>(record.exitCode);
    phone.reason = shift.reasons.add(record.reason);
    phone.recipe = shift.recipes.add(record.recipe);
    if (shift.recipeDigests.size() < shift.recipes.size()) {
        shift.recipeDigests.push_back(record.recipeSha256);
    }
    bool commandStopped = false;
    for (const LineFields::Command& command : record.commands) {
        commandStopped = commandStopped || command.result == "stopped";
        phone.bytes += command.bytes;
        phone.ms += command.ms;
        if (command.bytes > 0 && command.ms > 0) {
            shift.movingBytes += command.bytes;
            shift.movingMs += command.ms;
        }
        if (command.result == "done" && command.timed) {
            shift.stepMs[command.text.substr(0, command.text.find(' '))].push_back(
                static_cast<std::uint32_t>(std::min<std::uint64_t>(command.ms, UINT32_MAX)));
        }
    }
    // A record may say its result itself; else it is read from how the run ended.
    const std::string& result = record.result;
    if (result == "done" || result == "failed" || result == "stopped") {
        phone.outcome = result == "done"     ? PhoneOutcome::done
                        : result == "failed" ? PhoneOutcome::failed
                                             : PhoneOutcome::stopped;
    } else if (phone.exitCode == 130 || isStopReason(record.reason) || commandStopped) {
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
