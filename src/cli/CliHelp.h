// norvale-cli's help: what it holds as data, and the text of --help, whole or for one command.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "station/ExitCode.h"

namespace norvale {

// One entry of the help: the words of its left column and what they do. A description is the
// lines as --help wraps them, each ending in '\n' (the manual page fills them itself).
//
// A command's or an option's words follow one grammar, which the manual page and the shell
// completion read too, so a new entry is all it takes to show a command or an option everywhere:
// the literal words first ("write", "--dir"), aliases after ", " ("--quiet, -q"), placeholders in
// capitals, a choice of literal words joined by '|' ("ru|en"), an optional part in brackets
// ("[DIR]", "[-o FILE]", "[--no-verify]"). What a placeholder names decides what Tab offers for
// it: FILE a file, DIR a folder, RANGE and REGION a region's name, COMMAND a command; any other
// (SECONDS, ID) is free text.
struct HelpEntry {
    std::string_view words;
    std::string_view description;
};

struct ExitCodeHelp {
    ExitCode code;
    std::string_view meaning;  // lines as --help wraps them, each ending in '\n'
};

// A worked example of the manual page: what it shows, then the shell lines.
struct ExampleHelp {
    std::string_view description;
    std::string_view lines;  // each ending in '\n'
};

// Everything the help and the manual page say; one table per part. Environment and files appear
// only in the manual page, --sim's variables named in its line of the help too.
struct CliReference {
    std::string_view synopsis;      // "norvale-cli [OPTIONS] COMMAND ..."
    std::string_view summary;       // the manual page's one-line name
    std::string_view introduction;  // lines, as the help wraps them
    std::string_view introductionExample;
    std::span<const HelpEntry> commands;
    std::span<const HelpEntry> options;
    std::string_view interruption;  // what Ctrl+C does, lines
    std::span<const ExitCodeHelp> exitCodes;
    std::span<const HelpEntry> environment;
    std::string_view filesNote;  // where the files are looked for, lines
    std::span<const HelpEntry> files;
    std::span<const ExampleHelp> examples;
};

const CliReference& cliReference();

// "norvale-cli 0.5": the project's version, from the build.
std::string cliVersionLine();

// The whole help for an empty topic, a command's own for its name, nullopt for anything else.
std::optional<std::string> cliHelp(std::string_view topic);

// The name a command entry's words begin with: "read" of "read RANGE [-o FILE]".
std::string_view commandName(const HelpEntry& command);

}  // namespace norvale
