// A recipe file: a chain of commands in TOML, its images pinned by size and SHA-256.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/Message.h"
#include "station/ChainStep.h"

namespace norvale {

// The recipe's version this program reads and writes.
inline constexpr int kRecipeVersion = 1;

// One step as the command line would type it. File names are as the recipe writes them;
// `input` is the index of the word naming a file the step reads (a write's image, a restore's
// folder), which is taken relative to the recipe's folder, not the working folder.
struct RecipeEntry {
    std::vector<std::string> words;
    std::size_t line = 0;  // where its [[step]] begins
    std::optional<std::size_t> input;
    std::optional<ImagePin> pin;  // a write's
};

struct RecipeDocument {
    std::vector<std::string> places;     // the --port places; empty: all
    std::optional<std::string> journal;  // --journal
    std::vector<RecipeEntry> steps;
};

// Why a recipe can't be read: the message and the line it is about (0 when none).
struct RecipeProblem {
    MessageId reason;
    std::size_t line = 0;
    std::string detail;  // the key, the version or the TOML reader's description
};

// The document's keys, each refused (with its line) when unknown or of another type:
//   version = 1                       required
//   places = ["1-1.3", "1-1.4"]       optional
//   journal = "station.jsonl"         optional
//   [[step]]                          one table per command, in order
//   command = "write"                 info, read, write, start, blank, backup or restore
//   read:    range (boot, pds, panic or START-END), output
//   write:   region, image, size, sha256 (required); verify (true), changed_only (false), backup
//   backup:  folder
//   restore: folder (required), backup_first (true)
// Comments are TOML's. Nothing is opened: the words are checked by the command line's grammar.
std::variant<RecipeDocument, RecipeProblem> readRecipeText(std::string_view text);

// The recipe of `steps` as TOML, each write with its pin and its image named as `steps` name it
// (relative to the recipe, '/' between folders), after a comment that says what made it.
std::string recipeText(const std::vector<ChainStep>& steps, const std::vector<std::string>& places,
                       const std::optional<std::string>& journal);

}  // namespace norvale
