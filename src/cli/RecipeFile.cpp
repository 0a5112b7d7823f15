// The recipe's TOML read into command-line words, and a chain written back as TOML, with toml++.
#include "cli/RecipeFile.h"

#include <algorithm>
#include <initializer_list>
#include <sstream>

#define TOML_HEADER_ONLY 1
#include <toml++/toml.h>

namespace norvale {
namespace {

enum class Kind { text, number, flag, texts, tables };

struct Key {
    std::string_view name;
    Kind kind;
    bool required = false;
};

bool hasKind(const toml::node& node, Kind kind) {
    switch (kind) {
        case Kind::text: return node.is_string();
        case Kind::number: return node.is_integer() && *node.value<std::int64_t>() >= 0;
        case Kind::flag: return node.is_boolean();
        case Kind::texts:
            return node.is_array() && node.as_array()->is_homogeneous(toml::node_type::string);
        case Kind::tables: return node.is_array_of_tables();
    }
    return false;
}

std::size_t lineOf(const toml::source_region& source) {
    return static_cast<std::size_t>(source.begin.line);
}

// The first problem of `table` against `keys`, in the order of the document: a key unknown or of
// another type, then a required key missing (told at the table's own line).
std::optional<RecipeProblem> checkKeys(const toml::table& table, std::initializer_list<Key> keys) {
    std::optional<RecipeProblem> first;
    for (auto&& [key, node] : table) {
        // A name of its own: clang before 16 lets no lambda capture a structured binding.
        const std::string_view name = key.str();
        const auto known = std::find_if(keys.begin(), keys.end(),
                                        [&](const Key& rule) { return rule.name == name; });
        std::optional<RecipeProblem> problem;
        if (known == keys.end()) {
            problem = RecipeProblem{MessageId::recipeUnknownKey, lineOf(key.source()),
                                    std::string(key.str())};
        } else if (!hasKind(node, known->kind)) {
            problem = RecipeProblem{MessageId::recipeBadValue, lineOf(node.source()),
                                    std::string(key.str())};
        }
        // The table's keys come sorted by name: the one the reader meets first is told.
        if (problem && (!first || problem->line < first->line)) first = problem;
    }
    if (first) return first;
    for (const Key& rule : keys) {
        if (rule.required && !table.contains(rule.name)) {
            return RecipeProblem{MessageId::recipeMissingKey, lineOf(table.source()),
                                 std::string(rule.name)};
        }
    }
    return std::nullopt;
}

std::string text(const toml::table& table, std::string_view key) {
    return table[key].value_or(std::string());
}

bool flag(const toml::table& table, std::string_view key, bool otherwise) {
    return table[key].value_or(otherwise);
}

bool isDigest(const std::string& hex) {
    return hex.size() == 64 && std::all_of(hex.begin(), hex.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::variant<RecipeEntry, RecipeProblem> readStep(const toml::table& table) {
    RecipeEntry entry;
    entry.line = lineOf(table.source());
    const toml::node* command = table.get("command");
    if (command == nullptr) {
        return RecipeProblem{MessageId::recipeMissingKey, entry.line, "command"};
    }
    const std::string name = command->value_or(std::string());
    const auto check = [&](std::initializer_list<Key> keys) { return checkKeys(table, keys); };
    std::optional<RecipeProblem> problem;
    constexpr Key kCommand{"command", Kind::text, true};
    if (name == "info" || name == "start" || name == "blank") {
        problem = check({kCommand});
        entry.words = {name};
    } else if (name == "read") {
        problem = check({kCommand, {"range", Kind::text, true}, {"output", Kind::text}});
        entry.words = {"read", text(table, "range")};
        if (table.contains("output"))
            entry.words.insert(entry.words.end(), {"-o", text(table, "output")});
    } else if (name == "write") {
        problem = check({kCommand,
                         {"region", Kind::text, true},
                         {"image", Kind::text, true},
                         {"size", Kind::number, true},
                         {"sha256", Kind::text, true},
                         {"verify", Kind::flag},
                         {"changed_only", Kind::flag},
                         {"backup", Kind::text}});
        if (!problem) {
            const toml::node& digest = *table.get("sha256");
            ImagePin pin{static_cast<std::uint64_t>(*table["size"].value<std::int64_t>()),
                         text(table, "sha256")};
            if (!isDigest(pin.sha256)) {
                return RecipeProblem{MessageId::recipeBadValue, lineOf(digest.source()), "sha256"};
            }
            entry.pin = std::move(pin);
        }
        entry.words = {"write", text(table, "region"), text(table, "image"),
                       flag(table, "verify", true) ? "--verify" : "--no-verify"};
        entry.input = 2;
        if (flag(table, "changed_only", false)) entry.words.push_back("--changed-only");
        if (table.contains("backup"))
            entry.words.insert(entry.words.end(), {"--backup", text(table, "backup")});
    } else if (name == "backup") {
        problem = check({kCommand, {"folder", Kind::text}});
        BackupStep step;
        if (table.contains("folder")) step.folder = text(table, "folder");
        entry.words = stepArguments(step);
    } else if (name == "restore") {
        problem = check({kCommand, {"folder", Kind::text, true}, {"backup_first", Kind::flag}});
        entry.words = {"restore", text(table, "folder")};
        entry.input = 1;
        if (!flag(table, "backup_first", true)) entry.words.push_back("--no-backup");
    } else {
        return RecipeProblem{MessageId::recipeBadValue, lineOf(command->source()), "command"};
    }
    if (problem) return *problem;
    return entry;
}

std::variant<RecipeDocument, RecipeProblem> readDocument(const toml::table& root) {
    if (auto problem = checkKeys(root, {{"version", Kind::number, true},
                                        {"places", Kind::texts},
                                        {"journal", Kind::text},
                                        {"step", Kind::tables, true}})) {
        return *problem;
    }
    const toml::node& version = *root.get("version");
    if (*version.value<std::int64_t>() != kRecipeVersion) {
        return RecipeProblem{MessageId::recipeBadVersion, lineOf(version.source()),
                             std::to_string(*version.value<std::int64_t>())};
    }
    RecipeDocument document;
    if (const toml::array* places = root["places"].as_array()) {
        for (const toml::node& place : *places)
            document.places.push_back(*place.value<std::string>());
    }
    if (root.contains("journal")) document.journal = text(root, "journal");
    for (const toml::node& node : *root["step"].as_array()) {
        auto step = readStep(*node.as_table());
        if (auto* problem = std::get_if<RecipeProblem>(&step)) return *problem;
        document.steps.push_back(std::get<RecipeEntry>(std::move(step)));
    }
    return document;
}

toml::table stepTable(const ChainStep& step) {
    const std::vector<std::string> words = stepArguments(step);
    toml::table table{{"command", words.front()}};
    if (std::holds_alternative<ReadStep>(step)) {
        const auto& read = std::get<ReadStep>(step);
        table.insert("range", words[1]);
        if (read.output) table.insert("output", *read.output);
    } else if (const auto* write = std::get_if<WriteStep>(&step)) {
        table.insert("region", words[1]);
        table.insert("image", write->image);
        if (write->pin) {
            table.insert("size", static_cast<std::int64_t>(write->pin->size));
            table.insert("sha256", write->pin->sha256);
        }
        table.insert("verify", write->verify);
        table.insert("changed_only", write->changedOnly);
        if (write->backup) table.insert("backup", *write->backup);
    } else if (const auto* backup = std::get_if<BackupStep>(&step)) {
        if (backup->folder) table.insert("folder", *backup->folder);
    } else if (const auto* restore = std::get_if<RestoreStep>(&step)) {
        table.insert("folder", restore->folder);
        table.insert("backup_first", restore->backupFirst);
    }
    return table;
}

// The line of the first letter beyond ASCII that stands outside a string or a comment, or that
// follows a backslash in a string (past the blanks a line-ending one trims); 0 when none does. TOML
// allows such letters only as the text of strings and comments, and the TOML reader's own test for
// whitespace is undefined for many of them (Cyrillic among them), so a text that would put one to
// it is refused before it is read. Strings and comments are only skipped here, never read: their
// text is the TOML reader's. A quote opens a string only where TOML has one (a key at the start of
// a line or after a dot, a value after '=', '[', ',' or '{'); anywhere else it is a stray character
// like any other.
std::size_t strayLetterLine(std::string_view text) {
    std::size_t line = 1;
    std::size_t i = 0;
    char before = '\n';  // the last character outside strings and comments that is no blank
    const auto opens = [&](std::string_view quote) {
        return text.substr(i, quote.size()) == quote;
    };
    while (i < text.size()) {
        const char c = text[i];
        const bool stringHere = std::string_view("\n=[,{").find(before) != std::string_view::npos;
        if (c == '\n') {
            ++line;
            ++i;
            before = c;
        } else if (c == '#') {
            while (i < text.size() && text[i] != '\n') ++i;
        } else if ((c == '"' || c == '\'') && stringHere) {
            const bool basic = c == '"';
            const bool multiline = opens(basic ? "\"\"\"" : "'''");
            const std::string_view quote = text.substr(i, multiline ? 3 : 1);
            i += quote.size();
            while (i < text.size() && !opens(quote)) {
                if (text[i] == '\n') {
                    if (!multiline) break;
                    ++line;
                }
                if (basic && text[i] == '\\' && i + 1 < text.size()) {
                    // What follows the backslash, past the blanks a line-ending one trims.
                    const std::size_t next = text.find_first_not_of(" \t\r\n", i + 1);
                    if (next != std::string_view::npos &&
                        static_cast<unsigned char>(text[next]) >= 0x80) {
                        return line;
                    }
                    if (text[i + 1] != '\n') ++i;
                }
                ++i;
            }
            if (i < text.size() && opens(quote)) i += quote.size();
            before = c;
        } else if (static_cast<unsigned char>(c) >= 0x80) {
            return line;
        } else {
            if (c != ' ' && c != '\t' && c != '\r') before = c;
            ++i;
        }
    }
    return 0;
}

}  // namespace

std::variant<RecipeDocument, RecipeProblem> readRecipeText(std::string_view text) {
    if (const std::size_t line = strayLetterLine(text)) {
        return RecipeProblem{MessageId::recipeNotToml, line,
                             "a letter beyond ASCII outside a string or a comment"};
    }
    try {
        const toml::table root = toml::parse(text);
        return readDocument(root);
    } catch (const toml::parse_error& error) {
        return RecipeProblem{MessageId::recipeNotToml, lineOf(error.source()),
                             std::string(error.description())};
    }
}

std::string recipeText(const std::vector<ChainStep>& steps, const std::vector<std::string>& places,
                       const std::optional<std::string>& journal) {
    toml::table root{{"version", kRecipeVersion}};
    if (!places.empty()) {
        toml::array array;
        for (const std::string& place : places) array.push_back(place);
        root.insert("places", std::move(array));
    }
    if (journal) root.insert("journal", *journal);
    toml::array tables;
    for (const ChainStep& step : steps) tables.push_back(stepTable(step));
    root.insert("step", std::move(tables));
    std::ostringstream out;
    out << "# A norvale-cli recipe: the chain every station runs, each image pinned by its size\n"
           "# and SHA-256. Images are named relative to this file. Check it with:\n"
           "#   norvale-cli recipe check FILE\n"
        << root << '\n';
    return out.str();
}

}  // namespace norvale
