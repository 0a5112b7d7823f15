// The help's one source seen in its two renderings: --help's columns and the manual page's roff.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/CliHelp.h"
#include "cli/CliManPage.h"

namespace norvale {
namespace {

// What a reader of the rendered page sees of a roff line: fonts dropped, escapes resolved.
std::string plain(std::string line) {
    std::string text;
    for (std::size_t at = 0; at < line.size(); ++at) {
        if (line[at] != '\\' || at + 1 == line.size()) {
            text += line[at];
            continue;
        }
        const char escape = line[++at];
        if (escape == 'f') {
            ++at;  // \fB, \fI, \fR
        } else if (escape == '-') {
            text += '-';
        } else if (escape == 'e') {
            text += '\\';
        } else if (escape != '&') {
            text += '\\';
            text += escape;
        }
    }
    return text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        found.push_back(text.substr(start, end - start));
    }
    return found;
}

// The tags of the tagged paragraphs of one section, as a reader sees them, each with the text
// below it up to the next request.
struct Tagged {
    std::string tag;
    std::string text;
};
std::vector<Tagged> taggedParagraphs(const std::string& page, const std::string& section) {
    std::vector<Tagged> found;
    bool inside = false;
    const std::vector<std::string> all = lines(page);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].rfind(".SH ", 0) == 0) inside = all[i] == ".SH " + section;
        if (!inside || all[i] != ".TP" || i + 1 == all.size()) continue;
        Tagged paragraph{plain(all[i + 1]), ""};
        for (i += 2; i < all.size() && all[i].rfind('.', 0) != 0; ++i) {
            paragraph.text += plain(all[i]) + "\n";
        }
        --i;
        found.push_back(paragraph);
    }
    return found;
}

TEST(CliManPage, EveryEntryOfTheHelpIsATaggedParagraphOfItsSection) {
    const CliReference& help = cliReference();
    const std::string page = cliManPage();
    const auto expectSection = [&](const std::string& section, std::vector<Tagged> expected) {
        const std::vector<Tagged> found = taggedParagraphs(page, section);
        ASSERT_EQ(found.size(), expected.size()) << section;
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].tag, expected[i].tag) << section;
            EXPECT_EQ(found[i].text, expected[i].text) << section << ": " << expected[i].tag;
        }
    };
    const auto entries = [](std::span<const HelpEntry> table) {
        std::vector<Tagged> expected;
        for (const HelpEntry& entry : table) {
            expected.push_back({std::string(entry.words), std::string(entry.description)});
        }
        return expected;
    };
    expectSection("COMMANDS", entries(help.commands));
    expectSection("OPTIONS", entries(help.options));
    expectSection("ENVIRONMENT", entries(help.environment));
    expectSection("FILES", entries(help.files));
    std::vector<Tagged> codes;
    for (const ExitCodeHelp& exit : help.exitCodes) {
        codes.push_back({std::to_string(static_cast<int>(exit.code)), std::string(exit.meaning)});
    }
    expectSection("EXIT STATUS", codes);

    // The help's commands are the ones the command line runs, all of them listed by --help,
    // each with a help of its own and taken by the parser as a command.
    const std::string whole = cliHelp("").value();
    std::vector<std::string> names;
    for (const HelpEntry& command : help.commands) {
        names.emplace_back(commandName(command));
        EXPECT_NE(whole.find("\n  " + std::string(command.words)), std::string::npos);
        EXPECT_TRUE(cliHelp(commandName(command)).has_value()) << command.words;
        EXPECT_TRUE(isCommandName(names.back())) << command.words;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"list", "info", "read", "write", "start", "blank",
                                               "backup", "restore", "recipe", "report", "help"}));
}

TEST(CliManPage, HeaderNameAndSynopsisFollowTheConventionsOfSectionOne) {
    const std::vector<std::string> page = lines(cliManPage());
    ASSERT_GE(page.size(), 7u);
    EXPECT_EQ(page[1], ".TH NORVALE\\-CLI 1 \"\" \"norvale\\-cli 0.5\" \"User Commands\"");
    EXPECT_EQ(page[2], ".SH NAME");
    // "name \- summary", as whatis and apropos read it.
    EXPECT_EQ(page[3], "norvale\\-cli \\- service commands for LTE2 phones in flash mode");
    EXPECT_EQ(page[4], ".SH SYNOPSIS");
    // Typed words in bold, placeholders in italics, brackets in roman.
    EXPECT_EQ(page[5], "\\fBnorvale\\-cli\\fR [\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGS\\fR] "
                       "[\\fICOMMAND\\fR [\\fIARGS\\fR]]...");
    const std::string whole = cliManPage();
    EXPECT_NE(whole.find(".TP\n\\fBread\\fR \\fIRANGE\\fR [\\fB\\-o\\fR \\fIFILE\\fR]\n"),
              std::string::npos);
    EXPECT_NE(whole.find(".TP\n\\fB\\-\\-lang\\fR \\fBru\\fR|\\fBen\\fR\n"), std::string::npos);
}

TEST(CliManPage, TextIsEscapedSoRoffTakesItLiterally) {
    // Minus signs a user types, a backslash of a Windows folder, and lines that would otherwise be
    // requests or control lines.
    EXPECT_EQ(manEscaped("--no-verify, bin\\ and 10030000-1003FFFF\n"),
              "\\-\\-no\\-verify, bin\\e and 10030000\\-1003FFFF\n");
    EXPECT_EQ(manEscaped(".bin files\n'A' first\nnot.at the start's\n"),
              "\\&.bin files\n\\&'A' first\nnot.at the start's\n");
    EXPECT_EQ(manEscaped(".\n.."), "\\&.\n\\&..");
    // No line of the page outside its requests starts a request by accident: every line that
    // starts with '.' is one of the macros the page uses.
    for (const std::string& line : lines(cliManPage())) {
        if (line.empty() || (line[0] != '.' && line[0] != '\'')) continue;
        const std::string request = line.substr(0, line.find(' '));
        EXPECT_TRUE(request == ".\\\"" || request == ".TH" || request == ".SH" ||
                    request == ".TP" || request == ".PP" || request == ".RS" || request == ".RE" ||
                    request == ".nf" || request == ".fi")
            << line;
    }
}

TEST(CliHelp, EntriesLineUpInTheDescriptionColumnOrBreakBeforeIt) {
    const std::string whole = cliHelp("").value();
    // Words that leave room: the description starts on their line, in column 23.
    EXPECT_NE(whole.find("\n  read RANGE [-o FILE] Reads flash into a new file. RANGE is boot, "
                         "pds, panic or\n                       START-END in hex"),
              std::string::npos);
    EXPECT_NE(whole.find("\n  --quiet, -q          Print nothing but errors"), std::string::npos);
    // Longer words: the description starts on the next line, in the same column.
    EXPECT_NE(whole.find("\n  write REGION FILE [--no-verify] [--changed-only] [--backup FILE]\n"
                         "                       Writes the image FILE."),
              std::string::npos);
    // Exit codes: the meaning in column 7, a wrapped line too.
    EXPECT_NE(whole.find("\n  4    a file problem: a loader image, the image file, a dump that "
                         "exists or can't be\n       written, a backup folder that can't be "
                         "restored, a recipe that can't be read or\n"),
              std::string::npos);
    EXPECT_NE(whole.find("\n  130  interrupted (Ctrl+C)\n"), std::string::npos);
    EXPECT_EQ(cliHelp("restart"), std::nullopt);
}

}  // namespace
}  // namespace norvale
