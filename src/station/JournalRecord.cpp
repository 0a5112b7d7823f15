// The journal's JSON, built field by field in a fixed order so lines compare byte for byte.
#include "station/JournalRecord.h"

#include "core/Cp1251.h"
#include "station/JsonText.h"

namespace norvale {
namespace {

void field(std::string& out, std::string_view name, std::string_view utf8) {
    out += jsonString(name);
    out += ':';
    out += jsonString(utf8);
}

void field(std::string& out, std::string_view name, std::int64_t number) {
    out += jsonString(name);
    out += ':';
    out += std::to_string(number);
}

}  // namespace

std::string journalLine(const JournalRecord& record) {
    std::string out = "{";
    field(out, "location", record.location);
    out += ',';
    field(out, "road", record.road);
    out += ',';
    field(out, "serial", record.serial);
    out += ',';
    field(out, "boot_version", utf8FromCp1251(record.bootVersion));
    out += ',';
    field(out, "mode", utf8FromCp1251(record.mode));
    out += ',';
    field(out, "started", isoUtc(record.started));
    out += ',';
    field(out, "ended", isoUtc(record.ended));
    out += ",\"commands\":[";
    for (std::size_t i = 0; i < record.commands.size(); ++i) {
        const JournalCommand& command = record.commands[i];
        if (i > 0) out += ',';
        out += '{';
        field(out, "command", command.command);
        out += ',';
        field(out, "result", command.result);
        out += ',';
        field(out, "bytes", static_cast<std::int64_t>(command.bytes));
        out += ',';
        field(out, "ms", static_cast<std::int64_t>(command.ms));
        out += ",\"files\":[";
        for (std::size_t f = 0; f < command.files.size(); ++f) {
            if (f > 0) out += ',';
            out += '{';
            field(out, "name", command.files[f].name);
            out += ',';
            field(out, "sha256", command.files[f].sha256);
            out += '}';
        }
        out += "]}";
    }
    out += "],";
    field(out, "verify", record.verify);
    out += ',';
    field(out, "exit_code", record.exitCode);
    out += ',';
    field(out, "reason", record.reason);
    out += ',';
    field(out, "error", record.error);
    if (!record.recipe.empty()) {
        out += ',';
        field(out, "recipe", record.recipe);
        out += ',';
        field(out, "recipe_sha256", record.recipeSha256);
    }
    out += "}\n";
    return out;
}

}  // namespace norvale
