// Fuzzes norvale-cli's arguments through to the dry run's plan: any command line is read without
// a crash, every write it accepts has a plan a single read can verify, and the plan names each of
// its blocks once.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/CliHelp.h"
#include "cli/DryRunPlan.h"
#include "core/MessageCatalogue.h"
#include "operations/FlashComparison.h"
#include "station/BackupSet.h"

namespace {

using namespace norvale;

std::size_t planLines(const std::vector<std::string>& lines, std::string_view kind) {
    std::size_t count = 0;
    for (const std::string& line : lines) {
        if (line.empty()) std::abort();
        if (line.rfind(kind, 0) == 0) ++count;
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The arguments, separated by zero bytes.
    std::vector<std::string> args;
    std::string arg;
    for (std::size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0) {
            args.push_back(std::move(arg));
            arg.clear();
        } else {
            arg += static_cast<char>(data[i]);
        }
    }
    if (!arg.empty()) args.push_back(std::move(arg));

    CommandLine line = parseCommandLine(args);
    if (line.kind == CommandLine::Kind::help) (void)cliHelp(line.helpTopic);
    // A refusal is told as an error message, never as a line that is none.
    if (line.kind == CommandLine::Kind::usageError && !isErrorMessage(line.reason)) std::abort();
    if (line.kind != CommandLine::Kind::run) return 0;
    // A recipe's commands are read from its file later, not from the command line.
    if (line.options.recipe) return 0;
    if (line.steps.empty()) std::abort();

    // The sizes a run's files could have: each image just long enough, so its last chunk has one
    // byte, and loaders of sizes taken from the input.
    PreparedRun prepared{{}, {size, size % 4096 + 1}};
    std::size_t written = 0;
    std::size_t candidates = 0;
    for (CliStep& step : line.steps) {
        if (auto* write = std::get_if<WriteStep>(&step)) {
            const std::uint64_t image = minimumImageSize(write->plan);
            if (write->plan.empty() || !planExtent(write->plan, image)) std::abort();
            prepared.imageSizes.push_back(image);
            (write->changedOnly ? candidates : written) += write->plan.size();
        } else if (auto* restore = std::get_if<RestoreStep>(&step)) {
            for (const BackupRegion& region : kBackupRegions) {
                prepared.imageSizes.push_back(region.size());
                candidates += region.slices().size();
            }
            if (restore->backupFirst) restore->backupFolder = "backup-beside";
        } else if (auto* backup = std::get_if<BackupStep>(&step); backup && !backup->folder) {
            backup->folder = "backup-now";
        }
    }
    const std::vector<std::string> plan = dryRunPlan(line, prepared);
    if (planLines(plan, "  write block ") != written) std::abort();
    if (planLines(plan, "  candidate block ") != candidates) std::abort();
    if (plan.back().rfind("Transfers on a full-speed USB link", 0) != 0) std::abort();
    return 0;
}
