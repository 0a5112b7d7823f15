// Fuzzes the recipe reader: any bytes are read without a crash, a refusal is an error message
// with its line, and a recipe that reads back as a chain is written and read again to the very
// same steps, its pins included.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/RecipeFile.h"
#include "core/MessageCatalogue.h"

namespace {

using namespace norvale;

// The steps of `document`, or none when the command line's grammar refuses one.
std::optional<std::vector<ChainStep>> stepsOf(const RecipeDocument& document) {
    std::vector<ChainStep> steps;
    for (const RecipeEntry& entry : document.steps) {
        const CommandLine line = parseCommandLine(entry.words);
        if (line.kind != CommandLine::Kind::run) return std::nullopt;
        if (line.steps.size() != 1) std::abort();
        ChainStep step = line.steps.front();
        if (auto* write = std::get_if<WriteStep>(&step)) {
            if (!entry.pin) std::abort();  // every write is pinned
            write->pin = entry.pin;
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto read = readRecipeText(std::string_view(reinterpret_cast<const char*>(data), size));
    if (const auto* problem = std::get_if<RecipeProblem>(&read)) {
        if (!isErrorMessage(problem->reason)) std::abort();
        return 0;
    }
    const RecipeDocument& document = std::get<RecipeDocument>(read);
    const auto steps = stepsOf(document);
    if (!steps) return 0;
    const auto again = readRecipeText(recipeText(*steps, document.places, document.journal));
    const auto* reread = std::get_if<RecipeDocument>(&again);
    if (reread == nullptr || reread->places != document.places ||
        reread->journal != document.journal || stepsOf(*reread) != steps) {
        std::abort();
    }
    return 0;
}
