// The bash completion: the help's words read by their grammar (CliHelp.h), set into a fixed
// script as the lists and case arms it looks things up in.
#include "cli/CliCompletion.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/CliHelp.h"

namespace norvale {
namespace {

// What Tab offers for a placeholder or a choice, as the script's _norvale_cli_offer names it.
std::string offerFor(std::string_view value) {
    if (value.find('|') != std::string_view::npos) {
        std::string words(value);
        for (char& c : words) {
            if (c == '|') c = ' ';
        }
        return "words:" + words;
    }
    if (value == "FILE" || value == "JOURNAL") return "file";
    if (value == "DIR") return "folder";
    if (value == "RANGE" || value == "REGION") return "region";
    if (value == "COMMAND") return "command";
    return "text";
}

// The words split at the spaces outside brackets: "write", "REGION", "[--backup FILE]".
std::vector<std::string_view> groups(std::string_view words) {
    std::vector<std::string_view> found;
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t at = 0; at <= words.size(); ++at) {
        const char c = at < words.size() ? words[at] : ' ';
        if (c == '[') ++depth;
        if (c == ']') --depth;
        if (c == ' ' && depth == 0) {
            if (at > start) found.push_back(words.substr(start, at - start));
            start = at + 1;
        }
    }
    return found;
}

bool bracketed(std::string_view group) {
    return group.size() >= 2 && group.front() == '[' && group.back() == ']';
}

// An option's words: its names ("--quiet, -q"), then the value it takes, if any.
struct OptionWords {
    std::vector<std::string_view> names;
    std::string_view value;
};

OptionWords optionWords(std::string_view words) {
    OptionWords option;
    for (std::string_view group : groups(words)) {
        if (group.front() == '-') {
            if (group.back() == ',') group.remove_suffix(1);
            option.names.push_back(group);
        } else {
            option.value = group;
        }
    }
    return option;
}

struct CommandWords {
    std::string_view name;
    std::vector<std::string> parameters;  // what each argument is offered as; "?" if optional
    std::vector<OptionWords> options;
};

CommandWords commandWords(const HelpEntry& entry) {
    CommandWords command;
    const std::vector<std::string_view> all = groups(entry.words);
    command.name = all.front();
    for (std::size_t i = 1; i < all.size(); ++i) {
        std::string_view group = all[i];
        if (!bracketed(group)) {
            command.parameters.push_back(offerFor(group));
            continue;
        }
        group = group.substr(1, group.size() - 2);
        if (group.front() == '-') {
            command.options.push_back(optionWords(group));
        } else {
            command.parameters.push_back(offerFor(group) + "?");
        }
    }
    return command;
}

std::string joined(const std::vector<std::string_view>& words) {
    std::string text;
    for (const std::string_view word : words) {
        if (!text.empty()) text += ' ';
        text += word;
    }
    return text;
}

std::string caseArm(std::string_view pattern, const std::string& value) {
    return "        " + std::string(pattern) + ") echo \"" + value + "\" ;;\n";
}

// The script around the lists: @NAME@ marks where each goes.
constexpr std::string_view kScript = R"bash(# bash completion for norvale-cli
# Made from norvale-cli's help when it is built: edit the help, not this file.

_norvale_cli_commands="@COMMANDS@"
_norvale_cli_options="@OPTIONS@"
_norvale_cli_regions="@REGIONS@"

# What each argument of a command is offered as, in order; a '?' ends an optional one.
_norvale_cli_parameters() {
    case $1 in
@PARAMETERS@    esac
}

# The options a command takes after its arguments.
_norvale_cli_command_options() {
    case $1 in
@COMMAND_OPTIONS@    esac
}

# What an option's value is offered as; nothing for an option that takes none.
_norvale_cli_value() {
    case $1 in
@VALUES@    esac
}

# Adds to COMPREPLY what of KIND begins with WORD.
_norvale_cli_offer() {
    local kind=$1 word=$2 line
    case $kind in
        file | folder)
            compopt -o filenames 2>/dev/null
            while IFS= read -r line; do COMPREPLY+=("$line"); done < <(
                if [[ $kind == file ]]; then compgen -f -- "$word"; else compgen -d -- "$word"; fi)
            ;;
        region) _norvale_cli_offer "words:$_norvale_cli_regions" "$word" ;;
        command) _norvale_cli_offer "words:$_norvale_cli_commands" "$word" ;;
        words:*)
            while IFS= read -r line; do COMPREPLY+=("$line"); done < <(
                compgen -W "${kind#words:}" -- "$word")
            ;;
    esac
}

_norvale_cli() {
    local word=${COMP_WORDS[COMP_CWORD]} value="" command="" pending=() i
    [[ $word == = ]] && word=""
    # The words before the cursor: options and their values, commands and their arguments.
    for ((i = 1; i < COMP_CWORD; i++)); do
        local current=${COMP_WORDS[i]}
        if [[ $current == = ]]; then
            continue  # --dir=DIR reaches here as three words
        elif [[ -n $value ]]; then
            value=""
        elif [[ $current == -* ]]; then
            value=$(_norvale_cli_value "$current")
        elif ((${#pending[@]})) && { [[ ${pending[0]} != *\? ]] ||
            [[ " $_norvale_cli_commands " != *" $current "* ]]; }; then
            pending=("${pending[@]:1}")
        else
            command=$current
            read -ra pending <<<"$(_norvale_cli_parameters "$command")"
        fi
    done
    COMPREPLY=()
    if [[ -n $value ]]; then
        _norvale_cli_offer "$value" "$word"
    elif [[ $word == -* && -n $command ]]; then
        # After a command: its own options, and --help for its help.
        _norvale_cli_offer "words:$(_norvale_cli_command_options "$command") --help" "$word"
    elif [[ $word == -* ]]; then
        _norvale_cli_offer "words:$_norvale_cli_options" "$word"
    elif ((${#pending[@]})); then
        _norvale_cli_offer "${pending[0]%\?}" "$word"
        # An optional argument may be left out for the next command.
        if [[ ${pending[0]} == *\? && ${pending[0]} != command\? ]]; then
            _norvale_cli_offer command "$word"
        fi
    else
        _norvale_cli_offer command "$word"
    fi
}

complete -F _norvale_cli norvale-cli
)bash";

void replace(std::string& text, std::string_view marker, const std::string& value) {
    text.replace(text.find(marker), marker.size(), value);
}

}  // namespace

std::string cliBashCompletion() {
    const CliReference& help = cliReference();
    std::vector<std::string_view> commands;
    std::vector<std::string_view> options;
    std::string parameters;
    std::string commandOptions;
    std::string values;
    std::vector<std::string_view> valued;  // the options whose value has an arm already
    const auto addValue = [&](const OptionWords& option) {
        if (option.value.empty()) return;
        for (const std::string_view name : option.names) {
            if (std::find(valued.begin(), valued.end(), name) != valued.end()) continue;
            valued.push_back(name);
            values += caseArm(name, offerFor(option.value));
        }
    };

    for (const HelpEntry& entry : help.options) {
        const OptionWords option = optionWords(entry.words);
        options.insert(options.end(), option.names.begin(), option.names.end());
        addValue(option);
    }
    for (const HelpEntry& entry : help.commands) {
        const CommandWords command = commandWords(entry);
        commands.push_back(command.name);
        if (!command.parameters.empty()) {
            std::string kinds;
            for (const std::string& kind : command.parameters) {
                kinds += kinds.empty() ? kind : " " + kind;
            }
            parameters += caseArm(command.name, kinds);
        }
        std::vector<std::string_view> names;
        for (const OptionWords& option : command.options) {
            names.insert(names.end(), option.names.begin(), option.names.end());
            addValue(option);
        }
        if (!names.empty()) commandOptions += caseArm(command.name, joined(names));
    }

    std::string script(kScript);
    replace(script, "@COMMANDS@", joined(commands));
    replace(script, "@OPTIONS@", joined(options));
    replace(script, "@REGIONS@", joined(regionNames()));
    replace(script, "@PARAMETERS@", parameters);
    replace(script, "@COMMAND_OPTIONS@", commandOptions);
    replace(script, "@VALUES@", values);
    return script;
}

}  // namespace norvale
