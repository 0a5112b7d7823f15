// The report's arguments, its journals read, and its three outputs.
#include "cli/ReportCommand.h"

#include <optional>
#include <vector>

#include "cli/RecipeCommands.h"
#include "report/ReportCsv.h"
#include "report/ReportHtml.h"
#include "report/ReportTable.h"
#include "report/ShiftSummary.h"

namespace norvale {
namespace {

ExitCode refuse(CliView& view, MessageId reason, std::string_view detail) {
    const Message message = Message(reason, MessageDetail::name(detail));
    view.append(message);
    return exitCodeFor(reason);
}

}  // namespace

ExitCode runReportTool(std::span<const std::string> args, FileSystem& files, CliView& view) {
    std::vector<std::string> journals;
    std::optional<std::string> html;
    std::optional<std::string> csv;
    ShiftWindow window;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.size() > 1 && word[0] == '-') {
            if (word != "--html" && word != "--csv" && word != "--since" && word != "--until") {
                return refuse(view, MessageId::unknownOption, word);
            }
            if (i + 1 == args.size()) return refuse(view, MessageId::missingArgument, word);
            const std::string& value = args[++i];
            if (word == "--html") {
                html = value;
            } else if (word == "--csv") {
                csv = value;
            } else {
                const std::optional<std::int64_t> time = parseUtcTime(value);
                if (!time) return refuse(view, MessageId::badOptionValue, word + " " + value);
                (word == "--since" ? window.since : window.until) = time;
            }
        } else {
            journals.push_back(word);
        }
    }
    if (journals.empty()) return refuse(view, MessageId::missingArgument, "report JOURNAL");
    // The outputs' names are checked before the journals are read: a long read ends in no
    // refusal a look could have given.
    for (const auto* output : {&html, &csv}) {
        if (!*output) continue;
        if (const FileError error = files.checkNameFree(**output); error != FileError::none) {
            return refuse(view,
                          error == FileError::alreadyExists ? MessageId::fileExists
                                                            : MessageId::invalidFileName,
                          **output);
        }
    }
    Shift shift;
    for (const std::string& journal : journals) {
        readJournal(files, journal, window, shift);
        const JournalRead& read = shift.journals.back();
        if (!read.opened) return refuse(view, MessageId::cannotReadFile, journal);
        if (read.skipped > 0) {
            view.append(Message(MessageId::journalLinesSkipped, MessageDetail::name(journal),
                                MessageDetail::bytes(read.skipped)));
        }
    }
    const ShiftSummary summary = summarize(shift);
    for (const std::string& line : reportTable(summary, view.language())) view.printResult(line);
    if (csv) {
        if (auto refusal = writeNewFile(files, *csv, reportCsv(shift))) {
            view.append(*refusal);
            return exitCodeFor(refusal->id);
        }
    }
    if (html) {
        if (auto refusal =
                writeNewFile(files, *html, reportHtml(summary, shift, view.language()))) {
            view.append(*refusal);
            return exitCodeFor(refusal->id);
        }
    }
    return ExitCode::done;
}

}  // namespace norvale
