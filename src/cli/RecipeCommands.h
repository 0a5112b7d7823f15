// Recipes on the command line: --recipe FILE read into a run's steps, recipe make and recipe check.
#pragma once

#include <span>
#include <string>
#include <variant>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/CliView.h"
#include "platform/FileSystem.h"
#include "station/ConsoleText.h"
#include "station/ExitCode.h"

namespace norvale {

// Reads the recipe `line.options.recipe` names into `line`: its steps (each image and restore
// folder taken relative to the recipe's folder, each write pinned), the texts the journal shows
// (the names as the recipe writes them), and its stamp. A station takes the recipe's places and
// journal unless the command line names its own. The station's rules then apply as to a typed
// line. The messages of a refusal, the first deciding the exit code; none when it was read.
// Nothing but the recipe is opened: the images are checked against their pins where they are
// read, before any phone is touched.
std::vector<Message> readRecipeInto(CommandLine& line, FileSystem& files,
                                    const NativeToUtf8& nativeToUtf8);

// The recipe `name` read as `norvale-cli --station --recipe NAME` reads it (readRecipeInto), as
// the station plan it asks for: the recipe's steps with their pins and texts, places, journal
// and stamp. The messages of a refusal otherwise.
std::variant<StationPlan, std::vector<Message>> readRecipePlan(const std::string& name,
                                                               FileSystem& files,
                                                               const NativeToUtf8& nativeToUtf8);

// `steps` (their files named as in the working folder) written as the new recipe `name` with
// `places` and `journal`, as `recipe make` writes one: each image read and pinned, the files
// named relative to the recipe, the file whole under its name or not there (writeNewFile).
std::optional<Message> writeRecipe(FileSystem& files, const std::string& name,
                                   std::vector<ChainStep> steps,
                                   const std::vector<std::string>& places,
                                   const std::optional<std::string>& journal);

// `recipe make -o FILE [OPTIONS] COMMAND...`: the chain of the command line after FILE (as a
// station would take it; options --verify, --no-verify, --changed-only, --backup, --port and
// --journal) written as a recipe, each image read and pinned. The file is written as FILE.part
// and named FILE once whole; an existing FILE or FILE.part is never replaced.
// `recipe check FILE`: the recipe read and every image it pins read and compared, no phone
// needed. Returns the exit code; every line goes through `view`.
ExitCode runRecipeTool(std::span<const std::string> args, FileSystem& files, CliView& view,
                       const NativeToUtf8& nativeToUtf8);

// `text` written as the new file `name`: under its ".part" name, flushed, then renamed without
// replacing anything. The refusal when it could not be.
std::optional<Message> writeNewFile(FileSystem& files, const std::string& name,
                                    std::string_view text);

}  // namespace norvale
