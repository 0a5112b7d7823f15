// The rules a station's command line follows beyond the one-phone grammar.
#include "cli/StationRefusal.h"

namespace norvale {

bool staysInsideFolder(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.front() == '\\') return false;
    // "C:x" is relative to drive C's current folder: outside the phone's all the same.
    if (name.find(':') != std::string_view::npos) return false;
    std::size_t begin = 0;
    while (begin <= name.size()) {
        const std::size_t end = name.find_first_of("/\\", begin);
        const std::string_view part = name.substr(
            begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
        if (part == "..") return false;
        if (end == std::string_view::npos) break;
        begin = end + 1;
    }
    return true;
}

std::optional<Refusal> stationRefusal(const CommandLine& line) {
    const CliOptions& options = line.options;
    const StationOptions& station = options.station;
    if (!station.enabled) {
        if (!station.ports.empty()) return Refusal{MessageId::onlyInStation, "--port"};
        if (station.count) return Refusal{MessageId::onlyInStation, "--count"};
        if (station.journal) return Refusal{MessageId::onlyInStation, "--journal"};
        if (station.clonePds) return Refusal{MessageId::onlyInStation, "--clone-pds"};
        return std::nullopt;
    }
    if (options.device) return Refusal{MessageId::notInStation, "--device"};
    if (options.waitSeconds) return Refusal{MessageId::notInStation, "--wait"};
    // A plan printed for a phone that has not come and one JSON document from many phones at
    // once would each mean something else on a line.
    if (options.dryRun) return Refusal{MessageId::notInStation, "--dry-run"};
    for (const CliStep& step : line.steps) {
        std::optional<std::string> named;
        if (std::holds_alternative<ListStep>(step)) return Refusal{MessageId::notInStation, "list"};
        if (const auto* info = std::get_if<InfoStep>(&step); info && info->json) {
            return Refusal{MessageId::notInStation, "--json"};
        }
        if (const auto* read = std::get_if<ReadStep>(&step)) named = read->output;
        if (const auto* write = std::get_if<WriteStep>(&step)) named = write->backup;
        if (const auto* backup = std::get_if<BackupStep>(&step)) named = backup->folder;
        if (named && !staysInsideFolder(*named)) {
            return Refusal{MessageId::outsidePhoneFolder, *named};
        }
    }
    return std::nullopt;
}

}  // namespace norvale
