// The station window's recipes read and written by the command line's own recipe code.
#pragma once

#include <variant>

#include "cli/RecipeCommands.h"
#include "station/RecipeShelf.h"
#include "station/StationBindings.h"

namespace norvale {

// A window is a face beside the command line, never above it: the program that composes the
// window hands it the command line's recipe grammar, so both read one recipe the same way.
// `bindings` outlive the shelf; their UTF-8 conversion is read at each call, once set.
inline RecipeShelf commandLineRecipes(StationBindings& bindings) {
    return RecipeShelf{[&bindings](const std::string& name) {
                           return readRecipePlan(name, bindings.files, bindings.nativeToUtf8);
                       },
                       [&bindings](const std::string& name, const StationPlan& plan) {
                           return writeRecipe(bindings.files, name, plan.steps, plan.ports,
                                              plan.journal);
                       }};
}

}  // namespace norvale
