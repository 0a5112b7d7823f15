// The command line's grammar: OPTIONS COMMAND [ARGS] [COMMAND [ARGS]]...
#include "cli/CliArguments.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "cli/CliHelp.h"
#include "cli/StationRefusal.h"
#include "protocol/CommandFormats.h"

namespace norvale {
namespace {

// The longest wait --wait takes: a day.
constexpr unsigned kMaxWaitSeconds = 86400;
// The most phones --count takes: a line's year, and far from the counter's end.
constexpr unsigned kMaxCount = 1000000;

struct NamedRegion {
    std::string_view name;
    Region region;
    const char* startText;
    const char* endText;
};
constexpr std::array<NamedRegion, 3> kRegions{{
    {"boot", Region::boot, "10000000", "1000FFFF"},
    {"pds", Region::pds, "10010000", "1001FFFF"},
    {"panic", Region::panic, "10020000", "1003FFFF"},
}};

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

const NamedRegion* regionNamed(std::string_view word) {
    const std::string lower = lowerCase(word);
    for (const NamedRegion& named : kRegions) {
        if (named.name == lower) return &named;
    }
    return nullptr;
}

// The tokens with a cursor; "--name=value" is taken as "--name" "value".
class Tokens {
public:
    explicit Tokens(std::span<const std::string> args) {
        for (const std::string& arg : args) {
            const std::size_t equals = arg.find('=');
            if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
                words_.push_back(arg.substr(0, equals));
                words_.push_back(arg.substr(equals + 1));
            } else {
                words_.push_back(arg);
            }
        }
    }
    bool done() const { return next_ >= words_.size(); }
    const std::string& peek() const { return words_[next_]; }
    std::string take() { return words_[next_++]; }
    std::size_t position() const { return next_; }
    // The words from `from` up to the cursor, joined by spaces.
    std::string since(std::size_t from) const {
        std::string text;
        for (std::size_t i = from; i < next_; ++i) text += (i > from ? " " : "") + words_[i];
        return text;
    }

private:
    std::vector<std::string> words_;
    std::size_t next_ = 0;
};

bool isOption(std::string_view word) { return word.size() > 1 && word[0] == '-'; }

// Parsing state: the result, filled as far as the arguments go.
class Parser {
public:
    explicit Parser(std::span<const std::string> args) : tokens_(args) {}

    CommandLine run() {
        readOptions();
        if (failed()) return result_;
        if (result_.options.recipe && result_.kind == CommandLine::Kind::run) {
            if (!tokens_.done()) return usage(MessageId::recipeAndCommands, "");
            return result_;
        }
        if (tokens_.done() && result_.kind == CommandLine::Kind::run) {
            return usage(MessageId::missingArgument, "COMMAND");
        }
        while (!failed() && result_.kind == CommandLine::Kind::run && !tokens_.done()) {
            const std::size_t from = tokens_.position();
            const std::size_t steps = result_.steps.size();
            readCommand();
            if (result_.steps.size() > steps) result_.stepTexts.push_back(tokens_.since(from));
        }
        if (!failed() && result_.kind == CommandLine::Kind::run) applyGlobalBackup();
        // Two documents on one stream would be no JSON document at all.
        if (!failed() && result_.kind == CommandLine::Kind::run && jsonCommands_ > 1) {
            usage(MessageId::jsonInOneCommand, "");
        }
        if (!failed() && result_.kind == CommandLine::Kind::run) {
            if (const auto refusal = stationRefusal(result_)) {
                usage(refusal->reason, refusal->detail);
            }
        }
        return result_;
    }

private:
    bool failed() const { return result_.kind == CommandLine::Kind::usageError; }

    CommandLine& usage(MessageId reason, std::string detail) {
        result_.kind = CommandLine::Kind::usageError;
        result_.reason = reason;
        result_.detail = std::move(detail);
        return result_;
    }

    std::optional<std::string> value(const std::string& option) {
        if (tokens_.done()) {
            usage(MessageId::missingArgument, option);
            return std::nullopt;
        }
        return tokens_.take();
    }

    void readOptions() {
        CliOptions& options = result_.options;
        while (!failed() && !tokens_.done() && isOption(tokens_.peek())) {
            const std::string option = tokens_.take();
            if (option == "--help" || option == "-h") {
                result_.kind = CommandLine::Kind::help;
                return;
            }
            if (option == "--version") {
                result_.kind = CommandLine::Kind::version;
                return;
            }
            if (option == "--verify" || option == "--no-verify") {
                verify_ = option == "--verify";
            } else if (option == "--changed-only") {
                changedOnly_ = true;
            } else if (option == "--dry-run") {
                options.dryRun = true;
            } else if (option == "--sim") {
                options.simulated = true;
            } else if (option == "--quiet" || option == "-q") {
                options.quiet = true;
            } else if (option == "--dir") {
                if (auto folder = value(option)) options.workingFolder = std::move(*folder);
            } else if (option == "--device") {
                if (auto id = value(option)) options.device = std::move(*id);
            } else if (option == "--backup") {
                if (auto file = value(option)) globalBackup_ = std::move(*file);
            } else if (option == "--wait") {
                if (auto seconds = value(option)) {
                    options.waitSeconds = number(option, *seconds, 0, kMaxWaitSeconds);
                }
            } else if (option == "--station") {
                options.station.enabled = true;
            } else if (option == "--port") {
                if (auto location = value(option)) options.station.ports.push_back(*location);
            } else if (option == "--count") {
                if (auto count = value(option)) {
                    options.station.count = number(option, *count, 1, kMaxCount);
                }
            } else if (option == "--journal") {
                if (auto file = value(option)) options.station.journal = std::move(*file);
            } else if (option == "--clone-pds") {
                options.station.clonePds = true;
            } else if (option == "--recipe") {
                if (auto file = value(option)) options.recipe = std::move(*file);
            } else if (option == "--lang") {
                if (auto language = value(option)) readLanguage(*language);
            } else {
                usage(MessageId::unknownOption, option);
            }
        }
    }

    // A decimal number from `least` to `most`; anything else refuses the command line.
    std::optional<unsigned> number(const std::string& option, const std::string& text,
                                   unsigned least, unsigned most) {
        unsigned parsed = 0;
        const bool digits =
            !text.empty() && text.size() <= 7 &&
            std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (digits) parsed = static_cast<unsigned>(std::stoul(text));
        if (!digits || parsed < least || parsed > most) {
            usage(MessageId::badOptionValue, option + " " + text);
            return std::nullopt;
        }
        return parsed;
    }

    void readLanguage(const std::string& text) {
        const std::string lower = lowerCase(text);
        if (lower == "ru") {
            result_.options.language = Language::russian;
        } else if (lower == "en") {
            result_.options.language = Language::english;
        } else {
            usage(MessageId::badOptionValue, "--lang " + text);
        }
    }

    // "--help" among a command's arguments asks for that command's help.
    bool helpAsked(const std::string& command) {
        if (tokens_.done() || (tokens_.peek() != "--help" && tokens_.peek() != "-h")) return false;
        result_.kind = CommandLine::Kind::help;
        result_.helpTopic = command;
        return true;
    }

    std::optional<std::string> argument(const std::string& command, const char* what) {
        if (tokens_.done() || isOption(tokens_.peek())) {
            usage(MessageId::missingArgument, command + " " + what);
            return std::nullopt;
        }
        return tokens_.take();
    }

    void readCommand() {
        const std::string word = tokens_.take();
        const std::string command = lowerCase(word);
        if (isOption(word)) {
            // Options go before the first command; only a command's own may follow it.
            usage(MessageId::unknownOption, word);
            return;
        }
        if (!isCommandName(command)) {
            usage(MessageId::unknownCommand, word);
            return;
        }
        if (helpAsked(command)) return;
        if (command == "recipe" || command == "report") {
            // A tool of its own, never a step of a chain: alone on its line.
            if (!result_.steps.empty()) {
                usage(MessageId::unknownCommand, word);
                return;
            }
            result_.kind =
                command == "recipe" ? CommandLine::Kind::recipe : CommandLine::Kind::report;
            while (!tokens_.done()) result_.toolArgs.push_back(tokens_.take());
        } else if (command == "help") {
            result_.kind = CommandLine::Kind::help;
            if (!tokens_.done()) result_.helpTopic = lowerCase(tokens_.take());
        } else if (command == "list") {
            result_.steps.emplace_back(ListStep{json()});
        } else if (command == "info") {
            result_.steps.emplace_back(InfoStep{json()});
        } else if (command == "start") {
            result_.steps.emplace_back(StartStep{});
        } else if (command == "blank") {
            result_.steps.emplace_back(BlankStep{});
        } else if (command == "read") {
            readRead();
        } else if (command == "write") {
            readWrite();
        } else if (command == "backup") {
            BackupStep step;
            if (!tokens_.done() && !isOption(tokens_.peek()) && !isCommandName(tokens_.peek())) {
                step.folder = tokens_.take();
            }
            result_.steps.emplace_back(std::move(step));
        } else if (command == "restore") {
            readRestore();
        }
    }

    // A listing's --json, if it has one.
    bool json() {
        if (tokens_.done() || tokens_.peek() != "--json") return false;
        tokens_.take();
        ++jsonCommands_;
        return true;
    }

    void readRestore() {
        const auto folder = argument("restore", "DIR");
        if (!folder) return;
        RestoreStep step{*folder, true, std::nullopt};
        // Its own options; any other is refused where the next command would begin.
        while (!tokens_.done() && tokens_.peek() == "--no-backup") {
            tokens_.take();
            step.backupFirst = false;
        }
        if (helpAsked("restore")) return;
        result_.steps.emplace_back(std::move(step));
    }

    std::optional<FlashRange> range(const std::string& text) {
        if (const NamedRegion* named = regionNamed(text)) {
            return FlashRange{named->startText, named->endText,
                              parseStrictHex(named->startText).value_or(0),
                              parseStrictHex(named->endText).value_or(0)};
        }
        const std::size_t dash = text.find('-');
        const std::string startText = text.substr(0, dash);
        const std::string endText = dash == std::string::npos ? "" : text.substr(dash + 1);
        const auto start = parseStrictHex(startText);
        const auto end = parseStrictHex(endText);
        if (!start || !end || *start > *end) {
            usage(MessageId::badRangeArgument, text);
            return std::nullopt;
        }
        return FlashRange{startText, endText, *start, *end};
    }

    void readRead() {
        const auto text = argument("read", "RANGE");
        if (!text) return;
        const auto flash = range(*text);
        if (!flash) return;
        // 00000000-FFFFFFFF has a byte count the read request can't carry.
        if (flash->start == 0 && flash->end == 0xFFFFFFFFu) {
            usage(MessageId::badRangeArgument, *text);
            return;
        }
        ReadStep step{*flash, std::nullopt};
        while (!failed() && !tokens_.done() &&
               (tokens_.peek() == "-o" || tokens_.peek() == "--output")) {
            const std::string option = tokens_.take();
            if (auto file = value(option)) step.output = std::move(*file);
        }
        if (helpAsked("read")) return;
        result_.steps.emplace_back(std::move(step));
    }

    void readWrite() {
        const auto regionText = argument("write", "REGION");
        if (!regionText) return;
        const auto image = argument("write", "FILE");
        if (!image) return;
        const auto flash = range(*regionText);
        if (!flash) return;
        WriteStep step;
        step.range = *flash;
        step.image = *image;
        step.verify = verify_;
        step.changedOnly = changedOnly_;
        if (const NamedRegion* named = regionNamed(*regionText)) {
            step.region = named->region;
            step.plan = named->region == Region::boot  ? bootSlices()
                        : named->region == Region::pds ? pdsSlices()
                                                       : panicSlices();
        } else {
            step.region = Region::blocks;
            // Nothing to write, or a walk no image could feed: the dialog refuses these too.
            const auto plan = blockRangeSlices(flash->start, flash->end);
            if (!plan || plan->empty()) {
                usage(MessageId::badRangeArgument, *regionText);
                return;
            }
            step.plan = *plan;
        }
        // Its own options; any other is refused where the next command would begin.
        const auto ownOption = [](const std::string& word) {
            return word == "--verify" || word == "--no-verify" || word == "--changed-only" ||
                   word == "--backup";
        };
        while (!failed() && !tokens_.done() && ownOption(tokens_.peek())) {
            const std::string option = tokens_.take();
            if (option == "--backup") {
                if (auto file = value(option)) step.backup = std::move(*file);
            } else if (option == "--changed-only") {
                step.changedOnly = true;
            } else {
                step.verify = option == "--verify";
            }
        }
        if (failed() || helpAsked("write")) return;
        result_.steps.emplace_back(std::move(step));
    }

    // --backup before the commands belongs to the run's one write.
    void applyGlobalBackup() {
        if (!globalBackup_) return;
        std::vector<WriteStep*> writes;
        for (CliStep& step : result_.steps) {
            if (auto* write = std::get_if<WriteStep>(&step)) writes.push_back(write);
        }
        if (writes.size() != 1 || writes.front()->backup) {
            usage(MessageId::backupNeedsOneWrite, "");
            return;
        }
        writes.front()->backup = globalBackup_;
    }

    Tokens tokens_;
    CommandLine result_;
    bool verify_ = true;
    bool changedOnly_ = false;
    unsigned jsonCommands_ = 0;
    std::optional<std::string> globalBackup_;
};

}  // namespace

CommandLine parseCommandLine(std::span<const std::string> args) { return Parser(args).run(); }

StationPlan stationPlan(const CommandLine& line) {
    const CliOptions& options = line.options;
    return StationPlan{line.steps,
                       line.stepTexts,
                       options.workingFolder,
                       options.station.journal,
                       options.station.ports,
                       options.station.count,
                       options.simulated,
                       line.recipe,
                       options.station.clonePds};
}

std::optional<std::uint32_t> parseStrictHex(std::string_view text) {
    return parseStrictHexAddress(text);
}

bool isCommandName(std::string_view word) {
    // The help's entries are the commands: one list for both.
    const std::string lower = lowerCase(word);
    const auto commands = cliReference().commands;
    return std::any_of(commands.begin(), commands.end(),
                       [&](const HelpEntry& entry) { return commandName(entry) == lower; });
}

bool printsJson(const CommandLine& line) {
    return std::any_of(line.steps.begin(), line.steps.end(), [](const CliStep& step) {
        if (const auto* list = std::get_if<ListStep>(&step)) return list->json;
        if (const auto* info = std::get_if<InfoStep>(&step)) return info->json;
        return false;
    });
}

std::vector<std::string_view> regionNames() {
    std::vector<std::string_view> names;
    for (const NamedRegion& named : kRegions) names.push_back(named.name);
    return names;
}

}  // namespace norvale
