// The arguments read, the language chosen, then help, the version, a refusal or a session.
#include "cli/CliProgram.h"

#include <chrono>
#include <string>

#include "cli/CliArguments.h"
#include "cli/CliHelp.h"
#include "cli/CliSession.h"
#include "cli/CliView.h"
#include "cli/RecipeCommands.h"
#include "cli/ReportCommand.h"
#include "cli/StationConsole.h"
#include "core/Utf8Path.h"
#include "station/StationEngine.h"

namespace norvale {
namespace {

Language languageOf(const CommandLine& line, const Console& console) {
    if (line.options.language) return *line.options.language;
    return console.language() == "ru" ? Language::russian : Language::english;
}

std::string withoutFinalNewline(std::string text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

NativeToUtf8 nativeToUtf8(CliBindings& bindings) {
    Console& console = bindings.console;
    return [&console](std::string_view text) { return console.nativeToUtf8(text); };
}

}  // namespace

StationBindings stationBindings(CliBindings& bindings, Language language) {
    Console& console = bindings.console;
    return StationBindings{bindings.files, bindings.clock, bindings.threads, bindings.openRoads,
                           [&console](std::string_view text) { return console.nativeToUtf8(text); },
                           language, [] { return std::chrono::system_clock::now(); },
                           // As `--dir` does for one phone: the program runs in that folder.
                           enterUtf8Folder};
}

int runCli(std::span<const std::string> args, CliBindings& bindings) {
    CommandLine line = parseCommandLine(args);
    // A JSON document is the output stream's only content: the log's lines stay off it, as with
    // --quiet, and errors still go to the error stream.
    CliView view(bindings.console, bindings.clock, languageOf(line, bindings.console),
                 line.options.quiet || printsJson(line));
    ExitCode code = ExitCode::done;
    switch (line.kind) {
        case CommandLine::Kind::help:
            if (const auto help = cliHelp(line.helpTopic)) {
                view.printResult(withoutFinalNewline(*help));
            } else {
                view.append(
                    Message(MessageId::unknownCommand, MessageDetail::name(line.helpTopic)));
                code = ExitCode::usage;
            }
            break;
        case CommandLine::Kind::version: view.printResult(cliVersionLine()); break;
        case CommandLine::Kind::usageError:
            view.append(line.detail.empty()
                            ? Message(line.reason)
                            : Message(line.reason, MessageDetail::name(line.detail)));
            code = ExitCode::usage;
            break;
        case CommandLine::Kind::recipe:
            code = runRecipeTool(line.toolArgs, bindings.files, view, nativeToUtf8(bindings));
            break;
        case CommandLine::Kind::report:
            code = runReportTool(line.toolArgs, bindings.files, view);
            break;
        case CommandLine::Kind::run: {
            if (line.options.recipe) {
                const std::vector<Message> refusal =
                    readRecipeInto(line, bindings.files, nativeToUtf8(bindings));
                for (const Message& message : refusal) view.append(message);
                if (!refusal.empty()) {
                    code = exitCodeFor(refusal.front().id);
                    break;
                }
            }
            if (line.options.station.enabled) {
                StationBindings station = stationBindings(bindings, view.language());
                StationConsole face(bindings, view, line.options.quiet);
                StationEngine engine(station, stationPlan(line), &face);
                code = engine.run();
            } else {
                CliSession session(bindings, view, std::move(line));
                code = session.run();
            }
            break;
        }
    }
    return static_cast<int>(code);
}

}  // namespace norvale
