// Parsing the benchmark's command line.
#include "BenchOptions.h"

#include <algorithm>
#include <cstdlib>

namespace norvale::bench {
namespace {

std::optional<double> nonNegativeNumber(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0)) return std::nullopt;
    return value;
}

}  // namespace

ParsedOptions parseBenchOptions(const std::vector<std::string>& arguments,
                                const std::vector<std::string>& available) {
    ParsedOptions parsed;
    BenchOptions& options = parsed.options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= arguments.size()) return std::nullopt;
            return arguments[++i];
        };
        const auto number = [&](double& into) {
            const auto text = value();
            const auto read = text ? nonNegativeNumber(*text) : std::nullopt;
            if (!read) {
                parsed.error = argument + " needs a number of zero or more";
                return;
            }
            into = *read;
        };
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--repeat" || argument == "--log-lines") {
            double count = 0;
            number(count);
            int& into = argument == "--repeat" ? options.repeat : options.logLines;
            into = static_cast<int>(count);
            if (parsed.error.empty() && into < 1) parsed.error = argument + " needs at least 1";
        } else if (argument == "--parts") {
            const auto list = value();
            if (!list) {
                parsed.error = "--parts needs a comma-separated list";
                break;
            }
            std::size_t from = 0;
            while (from <= list->size()) {
                const std::size_t comma = std::min(list->find(',', from), list->size());
                const std::string part = list->substr(from, comma - from);
                if (std::find(available.begin(), available.end(), part) == available.end()) {
                    parsed.error = "no part '" + part + "' in this build";
                    break;
                }
                options.parts.insert(part);
                from = comma + 1;
            }
        } else if (argument == "--child-memory-dump") {
            options.childDumpStart = value();
            options.childDumpEnd = value();
            if (!options.childDumpEnd) parsed.error = "--child-memory-dump needs START END";
        } else if (argument == "--child-shift") {
            options.childShift = value();
            if (!options.childShift) parsed.error = "--child-shift needs station|simulator";
        } else if (argument == "--child-soak") {
            options.childSoak = value();
            if (!options.childSoak) parsed.error = "--child-soak needs sessions|simulator";
        } else if (argument == "--child-report") {
            options.childReport = value();
            if (!options.childReport) parsed.error = "--child-report needs JOURNAL";
        } else if (argument == "--child-station-memory") {
            const auto phones = value();
            const auto schedule = value();
            const auto count = phones ? nonNegativeNumber(*phones) : std::nullopt;
            if (!count || *count < 1 || !schedule ||
                (*schedule != "at-once" && *schedule != "one-by-one")) {
                parsed.error = "--child-station-memory needs N at-once|one-by-one";
            } else {
                options.childStationPhones = static_cast<unsigned>(*count);
                options.childStationAtOnce = *schedule == "at-once";
            }
        } else {
            parsed.error = "unknown argument '" + argument + "'";
        }
        if (!parsed.error.empty()) break;
    }
    if (options.parts.empty()) options.parts.insert(available.begin(), available.end());
    return parsed;
}

std::string benchUsage(const std::string& program, const std::vector<std::string>& available) {
    std::string parts;
    for (const std::string& part : available) parts += (parts.empty() ? "" : ",") + part;
    return "usage: " + program +
           " [--parts LIST] [--repeat N] [--log-lines N]\n"
           "  --parts LIST        comma-separated, from " +
           parts +
           " (default: all)\n"
           "  --repeat N          runs per timed figure; the median is reported (default 5)\n"
           "  --log-lines N       lines appended in the log parts (default 10000)\n";
}

}  // namespace norvale::bench
