// Each phone a CSV row.
#include "report/ReportCsv.h"

#include <chrono>
#include <cstdio>

namespace norvale {
namespace {

void field(std::string& out, std::string_view text) {
    // A serial is what the phone's own descriptor says, and a spreadsheet runs a cell that begins
    // as a formula does: such a field is given a leading apostrophe, so it is read as text.
    const bool formula =
        !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
    if (!formula && text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    if (formula) out += '\'';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

std::string isoText(std::int64_t seconds) {
    const std::int64_t day = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{day}}};
    const std::int64_t rest = seconds - day * 86400;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(rest / 3600),
                  static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    return text;
}

constexpr const char* kOutcomes[] = {"done", "failed", "stopped"};

}  // namespace

std::string reportCsv(const Shift& shift) {
    std::string out =
        "started,ended,location,road,serial,result,reason,exit_code,recipe,recipe_sha256,bytes,"
        "ms\r\n";
    out.reserve(out.size() + shift.phones.size() * 160);
    for (const ShiftPhone& phone : shift.phones) {
        out += isoText(phone.started) + ',' + isoText(phone.ended) + ',';
        field(out, shift.places[phone.place]);
        out += ',';
        field(out, shift.roads[phone.road]);
        out += ',';
        field(out, phone.serial);
        out += ',';
        out += kOutcomes[static_cast<int>(phone.outcome)];
        out += ',';
        field(out, shift.reasons[phone.reason]);
        out += ',' + std::to_string(phone.exitCode) + ',';
        field(out, shift.recipes[phone.recipe]);
        out += ',';
        field(out, shift.recipeDigests[phone.recipe]);
        out += ',' + std::to_string(phone.bytes) + ',' + std::to_string(phone.ms) + "\r\n";
    }
    return out;
}

}  // namespace norvale
