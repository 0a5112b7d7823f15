// A recipe read into the same steps a command line makes, and the recipe tool's two commands.
#include "cli/RecipeCommands.h"

#include <filesystem>

#include "cli/RecipeFile.h"
#include "cli/StationRefusal.h"
#include "core/Utf8Path.h"
#include "operations/PartFile.h"
#include "protocol/WholeFile.h"
#include "station/ChainFiles.h"
#include "station/Sha256.h"

namespace norvale {
namespace {

Message named(MessageId id, std::string_view name) {
    return Message(id, MessageDetail::name(name));
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// A file the recipe names, taken in the recipe's own folder. Both names are UTF-8 (utf8Path):
// a narrow path would read them in the ANSI code page on Windows and mangle a Cyrillic folder.
std::string besideRecipe(const std::string& recipe, const std::string& name) {
    const auto path = utf8Path(name);
    const auto recipePath = utf8Path(recipe);
    if (!path || !recipePath || path->is_absolute()) return name;
    return pathUtf8((recipePath->parent_path() / *path).lexically_normal()).value_or(name);
}

// `name` (as typed, in the working folder) as the recipe `recipe` names it: relative to the
// recipe's folder with '/' between folders, so one recipe serves Windows and Linux stations.
std::string relativeToRecipe(const std::string& recipe, const std::string& name) {
    // The names are UTF-8; the working folder they are taken in is the system's (utf8Path).
    const auto typed = utf8Path(name);
    const auto recipePath = utf8Path(recipe);
    if (!typed || !recipePath) return name;
    std::error_code failed;
    const auto file = std::filesystem::absolute(*typed, failed);
    const auto folder = std::filesystem::absolute(*recipePath, failed).parent_path();
    if (failed) return name;
    const std::filesystem::path relative = file.lexically_relative(folder);
    const std::u8string text = (relative.empty() ? file : relative).generic_u8string();
    return std::string(text.begin(), text.end());
}

ExitCode refuse(CliView& view, const std::vector<Message>& messages) {
    for (const Message& message : messages) view.append(message);
    return messages.empty() ? ExitCode::done : exitCodeFor(messages.front().id);
}

ExitCode makeRecipe(std::span<const std::string> args, FileSystem& files, CliView& view) {
    if (args.size() < 2 || (args[0] != "-o" && args[0] != "--output")) {
        return refuse(view, {named(MessageId::missingArgument, "recipe make -o FILE")});
    }
    const std::string name = args[1];
    // The chain as a station takes it, so the recipe runs on every station.
    std::vector<std::string> chain{"--station"};
    chain.insert(chain.end(), args.begin() + 2, args.end());
    CommandLine line = parseCommandLine(chain);
    if (line.kind == CommandLine::Kind::usageError) {
        return refuse(
            view, {line.detail.empty() ? Message(line.reason) : named(line.reason, line.detail)});
    }
    if (line.kind != CommandLine::Kind::run || line.options.recipe) {
        return refuse(view, {named(MessageId::missingArgument, "COMMAND")});
    }
    const CliOptions& options = line.options;
    for (const auto& [given, option] : {std::pair{options.workingFolder.has_value(), "--dir"},
                                        {options.simulated, "--sim"},
                                        {options.quiet, "--quiet"},
                                        {options.language.has_value(), "--lang"},
                                        {options.station.count.has_value(), "--count"}}) {
        if (given) return refuse(view, {named(MessageId::notInRecipe, option)});
    }
    if (auto refusal =
            writeRecipe(files, name, line.steps, options.station.ports, options.station.journal)) {
        return refuse(view, {*refusal});
    }
    view.append(named(MessageId::recipeWritten, name));
    return ExitCode::done;
}

ExitCode checkRecipe(std::span<const std::string> args, FileSystem& files, CliView& view,
                     const NativeToUtf8& nativeToUtf8) {
    if (args.size() != 1)
        return refuse(view, {named(MessageId::missingArgument, "recipe check FILE")});
    CommandLine line;
    line.options.recipe = args[0];
    line.options.station.enabled = true;  // a recipe is a station's chain
    if (auto refusal = readRecipeInto(line, files, nativeToUtf8); !refusal.empty()) {
        return refuse(view, refusal);
    }
    std::vector<SharedImage> images;
    if (auto refusal = loadChainImages(files, line.steps, images)) return refuse(view, {*refusal});
    for (const ChainStep& step : line.steps) {
        if (const auto* write = std::get_if<WriteStep>(&step)) {
            view.append(named(MessageId::imageAsPinned, write->image));
        }
    }
    view.append(named(MessageId::recipeChecked, args[0]));
    return ExitCode::done;
}

}  // namespace

std::vector<Message> readRecipeInto(CommandLine& line, FileSystem& files,
                                    const NativeToUtf8& nativeToUtf8) {
    const std::string name = *line.options.recipe;
    const LoadedFile loaded = loadWholeFile(files, name);
    if (loaded.outcome != LoadOutcome::loaded) {
        return {named(loadFailureReason(loaded.outcome), name)};
    }
    auto read = readRecipeText(
        std::string_view(reinterpret_cast<const char*>(loaded.data.data()), loaded.data.size()));
    const auto where = [&](std::size_t at) { return name + ":" + std::to_string(at); };
    if (const auto* problem = std::get_if<RecipeProblem>(&read)) {
        return {Message(problem->reason, MessageDetail::name(where(problem->line)),
                        MessageDetail::name(problem->detail))};
    }
    RecipeDocument& document = std::get<RecipeDocument>(read);
    line.steps.clear();
    line.stepTexts.clear();
    for (RecipeEntry& entry : document.steps) {
        std::vector<std::string> words = entry.words;
        if (entry.input) words[*entry.input] = besideRecipe(name, words[*entry.input]);
        const CommandLine stepLine = parseCommandLine(words);
        if (stepLine.kind != CommandLine::Kind::run || stepLine.steps.size() != 1) {
            const Message cause =
                stepLine.kind == CommandLine::Kind::usageError
                    ? (stepLine.detail.empty() ? Message(stepLine.reason)
                                               : named(stepLine.reason, stepLine.detail))
                    : named(MessageId::unknownCommand, words.front());
            return {named(MessageId::recipeBadStep, where(entry.line)), cause};
        }
        ChainStep step = stepLine.steps.front();
        // The journal shows each step with its files named as the recipe names them.
        ChainStep shown = step;
        if (auto* write = std::get_if<WriteStep>(&step)) {
            write->pin = entry.pin;
            std::get<WriteStep>(shown).image = entry.words[*entry.input];
        } else if (std::holds_alternative<RestoreStep>(step)) {
            std::get<RestoreStep>(shown).folder = entry.words[*entry.input];
        }
        line.steps.push_back(std::move(step));
        line.stepTexts.push_back(joined(stepArguments(shown)));
    }
    StationOptions& station = line.options.station;
    if (station.enabled) {
        if (station.ports.empty()) station.ports = document.places;
        if (!station.journal) station.journal = document.journal;
    }
    line.recipe = RecipeStamp{nativeToUtf8(name), sha256Hex(loaded.data)};
    if (const auto refusal = stationRefusal(line)) {
        return {refusal->detail.empty() ? Message(refusal->reason)
                                        : named(refusal->reason, refusal->detail)};
    }
    return {};
}

std::variant<StationPlan, std::vector<Message>> readRecipePlan(const std::string& name,
                                                               FileSystem& files,
                                                               const NativeToUtf8& nativeToUtf8) {
    CommandLine line;
    line.options.recipe = name;
    line.options.station.enabled = true;
    if (auto refusal = readRecipeInto(line, files, nativeToUtf8); !refusal.empty()) return refusal;
    return stationPlan(line);
}

std::optional<Message> writeRecipe(FileSystem& files, const std::string& name,
                                   std::vector<ChainStep> steps,
                                   const std::vector<std::string>& places,
                                   const std::optional<std::string>& journal) {
    // Read as a run reads them, the same refusals for a file that can't be used.
    std::vector<SharedImage> images;
    if (auto refusal = loadChainImages(files, steps, images)) return refusal;
    std::size_t next = 0;
    for (ChainStep& step : steps) {
        if (auto* write = std::get_if<WriteStep>(&step)) {
            const Bytes& image = *images[next++];
            write->pin = ImagePin{image.size(), sha256Hex(image)};
            write->image = relativeToRecipe(name, write->image);
        } else if (auto* restore = std::get_if<RestoreStep>(&step)) {
            next += 3;  // Boot, PDS and Panic, vouched for by their own checksums
            restore->folder = relativeToRecipe(name, restore->folder);
        }
    }
    return writeNewFile(files, name, recipeText(steps, places, journal));
}

ExitCode runRecipeTool(std::span<const std::string> args, FileSystem& files, CliView& view,
                       const NativeToUtf8& nativeToUtf8) {
    if (!args.empty() && args[0] == "make") return makeRecipe(args.subspan(1), files, view);
    if (!args.empty() && args[0] == "check") {
        return checkRecipe(args.subspan(1), files, view, nativeToUtf8);
    }
    return refuse(view,
                  {named(args.empty() ? MessageId::missingArgument : MessageId::unknownCommand,
                         args.empty() ? "recipe make|check" : "recipe " + args[0])});
}

std::optional<Message> writeNewFile(FileSystem& files, const std::string& name,
                                    std::string_view text) {
    const std::string part = partFileName(name);
    for (const std::string& taken : {name, part}) {
        if (const FileError error = files.checkNameFree(taken); error != FileError::none) {
            return named(createFailureReason(error), taken);
        }
    }
    {
        OpenedFile opened = files.createNew(part);
        if (!opened.file) return named(createFailureReason(opened.error), part);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        if (!opened.file->append(std::span(bytes, text.size())) || !opened.file->flush()) {
            return Message(MessageId::cannotWriteFile, MessageDetail::bytes(0),
                           MessageDetail::name(part));
        }
    }
    if (const FileError error = files.renameNoReplace(part, name); error != FileError::none) {
        return renameFailure(error, part, name);
    }
    return std::nullopt;
}

}  // namespace norvale
