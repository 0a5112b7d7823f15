// The manual page: the help's tables set in man(7) macros.
#include "cli/CliManPage.h"

#include <cctype>

#include "cli/CliHelp.h"

namespace norvale {
namespace {

// `text` escaped; `atLineStart` when it begins a line of the page.
std::string escaped(std::string_view text, bool atLineStart) {
    std::string result;
    bool lineStart = atLineStart;
    for (const char c : text) {
        // A line starting with '.' or '\'' would be read as a request.
        if (lineStart && (c == '.' || c == '\'')) result += "\\&";
        if (c == '\\') {
            result += "\\e";
        } else if (c == '-') {
            result += "\\-";
        } else {
            result += c;
        }
        lineStart = c == '\n';
    }
    return result;
}

bool isWordCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
}

// A placeholder of the help's grammar: capitals, digits and '-' (FILE, START-END), no lowercase.
bool isPlaceholder(std::string_view word) {
    bool capital = false;
    for (const char c : word) {
        if (std::islower(static_cast<unsigned char>(c)) != 0) return false;
        capital = capital || std::isupper(static_cast<unsigned char>(c)) != 0;
    }
    return capital && word.front() != '-';
}

// An entry's words as the synopsis style of manual pages sets them: what is typed as it stands in
// bold, placeholders in italics, brackets and separators in roman.
std::string styledWords(std::string_view words) {
    std::string text;
    std::size_t at = 0;
    while (at < words.size()) {
        std::size_t end = at;
        while (end < words.size() && isWordCharacter(words[end])) ++end;
        if (end == at) {
            text += escaped(words.substr(at, 1), at == 0);
            ++at;
            continue;
        }
        const std::string_view word = words.substr(at, end - at);
        text += isPlaceholder(word) ? "\\fI" : "\\fB";
        text += manEscaped(word);
        text += "\\fR";
        at = end;
    }
    return text;
}

// Lines that keep their breaks and spaces, set off from the text.
void appendDisplay(std::string& page, std::string_view lines) {
    page += ".PP\n.RS 4\n.nf\n";
    page += manEscaped(lines);
    page += ".fi\n.RE\n";
}

// A tagged paragraph: the tag on its own line, the description indented below it.
void appendTagged(std::string& page, const std::string& tag, std::string_view description) {
    page += ".TP\n";
    page += tag;
    page += '\n';
    page += manEscaped(description);
}

void appendSection(std::string& page, const char* name) {
    page += ".SH ";
    page += name;
    page += '\n';
}

}  // namespace

std::string manEscaped(std::string_view text) { return escaped(text, true); }

std::string cliManPage() {
    const CliReference& help = cliReference();
    std::string page;
    page += R"(.\" Made from norvale-cli's help when it is built: edit the help, not this page.)";
    page += '\n';
    page += ".TH NORVALE\\-CLI 1 \"\" \"" + manEscaped(cliVersionLine()) + "\" \"User Commands\"\n";

    appendSection(page, "NAME");
    page += "norvale\\-cli \\- " + manEscaped(help.summary) + "\n";
    appendSection(page, "SYNOPSIS");
    page += styledWords(help.synopsis) + "\n";

    appendSection(page, "DESCRIPTION");
    page += manEscaped(help.introduction);
    appendDisplay(page, help.introductionExample);

    appendSection(page, "COMMANDS");
    for (const HelpEntry& command : help.commands) {
        appendTagged(page, styledWords(command.words), command.description);
    }

    appendSection(page, "OPTIONS");
    page += "Options go before the first command; after a command come only its own, shown with "
            "it above, and \\fB\\-\\-help\\fR.\n";
    for (const HelpEntry& option : help.options) {
        appendTagged(page, styledWords(option.words), option.description);
    }

    appendSection(page, "EXIT STATUS");
    for (const ExitCodeHelp& exit : help.exitCodes) {
        appendTagged(page, "\\fB" + std::to_string(static_cast<int>(exit.code)) + "\\fR",
                     exit.meaning);
    }

    appendSection(page, "ENVIRONMENT");
    for (const HelpEntry& variable : help.environment) {
        appendTagged(page, "\\fB" + manEscaped(variable.words) + "\\fR", variable.description);
    }

    appendSection(page, "FILES");
    page += manEscaped(help.filesNote);
    for (const HelpEntry& file : help.files) {
        appendTagged(page, "\\fI" + manEscaped(file.words) + "\\fR", file.description);
    }

    appendSection(page, "NOTES");
    page += manEscaped(help.interruption);
    appendSection(page, "PERMISSIONS");
    page += manEscaped(help.permissions);

    appendSection(page, "EXAMPLES");
    bool first = true;
    for (const ExampleHelp& example : help.examples) {
        if (!first) page += ".PP\n";
        first = false;
        page += manEscaped(example.description);
        appendDisplay(page, example.lines);
    }
    return page;
}

}  // namespace norvale
