// The settings file's lines, written and read back.
#include "ui/StationSetup.h"

#include <algorithm>
#include <array>
#include <optional>

namespace norvale {
namespace {

struct KindName {
    SetupStep::Kind kind;
    std::string_view name;
};

constexpr std::array<KindName, 8> kKindNames{{
    {SetupStep::Kind::backup, "backup"},
    {SetupStep::Kind::writeBoot, "write-boot"},
    {SetupStep::Kind::writePds, "write-pds"},
    {SetupStep::Kind::writePanic, "write-panic"},
    {SetupStep::Kind::writeBlocks, "write-blocks"},
    {SetupStep::Kind::restore, "restore"},
    {SetupStep::Kind::start, "start"},
    {SetupStep::Kind::blank, "blank"},
}};

std::string_view kindName(SetupStep::Kind kind) {
    for (const KindName& entry : kKindNames) {
        if (entry.kind == kind) return entry.name;
    }
    return {};
}

std::optional<SetupStep::Kind> kindNamed(std::string_view name) {
    for (const KindName& entry : kKindNames) {
        if (entry.name == name) return entry.kind;
    }
    return std::nullopt;
}

bool needsPath(SetupStep::Kind kind) {
    return kind != SetupStep::Kind::backup && kind != SetupStep::Kind::start &&
           kind != SetupStep::Kind::blank;
}

// Splits off the first space-separated word of `rest`.
std::string_view nextWord(std::string_view& rest) {
    const std::size_t space = rest.find(' ');
    const std::string_view word = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
    return word;
}

// A path runs to the end of its line, spaces and all; a line break can't be kept in this file,
// and no file dialog gives one.
std::optional<SetupStep> parseStep(std::string_view text) {
    std::string_view rest = text;
    const auto kind = kindNamed(nextWord(rest));
    if (!kind) return std::nullopt;
    SetupStep step;
    step.kind = *kind;
    if (*kind == SetupStep::Kind::writeBlocks) {
        step.startText = nextWord(rest);
        step.endText = nextWord(rest);
        if (step.startText.empty() || step.endText.empty()) return std::nullopt;
    }
    if (needsPath(*kind)) {
        if (rest.empty()) return std::nullopt;
        step.path = rest;
    }
    return step;
}

void line(std::string& out, std::string_view key, std::string_view value) {
    out.append(key).append("=").append(value).append("\n");
}

}  // namespace

std::string formatStationSetup(const StationSetup& setup) {
    std::string out;
    for (const SetupStep& step : setup.steps) {
        std::string value(kindName(step.kind));
        if (step.kind == SetupStep::Kind::writeBlocks) {
            value += " " + step.startText + " " + step.endText;
        }
        if (needsPath(step.kind)) value += " " + step.path;
        line(out, "step", value);
    }
    line(out, "verify", setup.verify ? "1" : "0");
    line(out, "changed-only", setup.changedOnly ? "1" : "0");
    line(out, "clone-pds", setup.clonePds ? "1" : "0");
    line(out, "folder", setup.folder);
    line(out, "journal", setup.journal);
    line(out, "places", setup.allPlaces ? "all" : "ticked");
    for (const std::string& place : setup.knownPlaces) line(out, "place", place);
    for (const std::string& place : setup.tickedPlaces) line(out, "ticked", place);
    if (!setup.windowLayout.empty()) line(out, "window", setup.windowLayout);
    if (!setup.recipe.empty()) line(out, "recipe", setup.recipe);
    return out;
}

StationSetup parseStationSetup(std::string_view text) {
    StationSetup setup;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view row = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
        const std::size_t equals = row.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = row.substr(0, equals);
        const std::string_view value = row.substr(equals + 1);
        if (key == "step") {
            if (auto step = parseStep(value)) setup.steps.push_back(std::move(*step));
        } else if (key == "verify") {
            setup.verify = value != "0";
        } else if (key == "changed-only") {
            setup.changedOnly = value == "1";
        } else if (key == "clone-pds") {
            setup.clonePds = value == "1";
        } else if (key == "folder") {
            setup.folder = value;
        } else if (key == "journal") {
            setup.journal = value;
        } else if (key == "places") {
            setup.allPlaces = value != "ticked";
        } else if (key == "place" && !value.empty()) {
            if (std::find(setup.knownPlaces.begin(), setup.knownPlaces.end(), value) ==
                setup.knownPlaces.end()) {
                setup.knownPlaces.emplace_back(value);
            }
        } else if (key == "ticked" && !value.empty()) {
            setup.tickedPlaces.emplace_back(value);
        } else if (key == "window") {
            setup.windowLayout = value;
        } else if (key == "recipe") {
            setup.recipe = value;
        }
    }
    return setup;
}

}  // namespace norvale
