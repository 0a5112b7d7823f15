// The recipe's TOML read into command-line words, and a chain written back as TOML, with toml++.
#include "cli/RecipeFile.h"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <utility>

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

// toml++ 3.3.0 tests every letter beyond ASCII it meets for whitespace, and that test is undefined
// for the letters from U+00A1 to U+0499 (Latin-1's and Cyrillic among them), from U+2C5E to U+3057
// and from U+FB26 to U+FEFE. So the text it reads has those letters moved, one for one, into the
// Private Use Area, where the test is sound, and what is read from it (strings, keys, its error's
// words) has them moved back. A recipe has no use for letters of that area: one that holds one is
// refused.
struct Shelter {
    char32_t first;
    char32_t last;
    char32_t at;
};
constexpr Shelter kShelters[] = {
    {0xA1, 0x499, 0xE000}, {0x2C5E, 0x3057, 0xE400}, {0xFB26, 0xFEFE, 0xE800}};
constexpr char32_t kShelterFirst = 0xE000;
constexpr char32_t kShelterLast = 0xEBFF;

// The code point of the sound UTF-8 sequence at `i` and its length; length 0 where there is none
// (the TOML reader refuses such bytes itself).
std::pair<char32_t, std::size_t> codePointAt(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || i + length > text.size()) return {0, 0};
    char32_t c = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return {0, 0};
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    return {c, length};
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (c & 0x3F));
}

// `text` with the sheltered letters moved in (`in`) or back out.
std::string moved(std::string_view text, bool in) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto [c, length] = codePointAt(text, i);
        std::optional<char32_t> to;
        for (const Shelter& shelter : kShelters) {
            const char32_t last = shelter.at + (shelter.last - shelter.first);
            if (in && c >= shelter.first && c <= shelter.last)
                to = shelter.at + (c - shelter.first);
            if (!in && c >= shelter.at && c <= last) to = shelter.first + (c - shelter.at);
        }
        if (to) {
            appendUtf8(out, *to);
        } else {
            out.append(text.substr(i, std::max<std::size_t>(length, 1)));
        }
        i += std::max<std::size_t>(length, 1);
    }
    return out;
}

// The line of the first letter of the shelters' area; 0 when there is none.
std::size_t shelterLetterLine(std::string_view text) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < text.size();) {
        const auto [c, length] = codePointAt(text, i);
        if (c >= kShelterFirst && c <= kShelterLast) return line;
        if (text[i] == '\n') ++line;
        i += std::max<std::size_t>(length, 1);
    }
    return 0;
}

void moveBack(RecipeDocument& document) {
    for (std::string& place : document.places) place = moved(place, false);
    if (document.journal) document.journal = moved(*document.journal, false);
    for (RecipeEntry& step : document.steps) {
        for (std::string& word : step.words) word = moved(word, false);
    }
}

}  // namespace

std::variant<RecipeDocument, RecipeProblem> readRecipeText(std::string_view text) {
    if (const std::size_t line = shelterLetterLine(text)) {
        return RecipeProblem{MessageId::recipeNotToml, line,
                             "a letter of the Private Use Area from U+E000 to U+EBFF"};
    }
    std::variant<RecipeDocument, RecipeProblem> read;
    try {
        read = readDocument(toml::parse(moved(text, true)));
    } catch (const toml::parse_error& error) {
        read = RecipeProblem{MessageId::recipeNotToml, lineOf(error.source()),
                             std::string(error.description())};
    }
    if (auto* document = std::get_if<RecipeDocument>(&read)) moveBack(*document);
    if (auto* problem = std::get_if<RecipeProblem>(&read)) {
        problem->detail = moved(problem->detail, false);
    }
    return read;
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
