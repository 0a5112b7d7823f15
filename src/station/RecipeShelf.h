// Recipes as a face other than the command line opens and saves them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/Message.h"
#include "station/StationPlan.h"

namespace norvale {

// Contract: the command line's recipe reader and writer, handed to a face by the program that
// composes it, so that a recipe is read and written by one grammar whichever face opens it.
// open(): the recipe NAME (UTF-8) read as `norvale-cli --station --recipe NAME` reads it: the
// plan with each write's pin, the steps' texts, the places, the journal and the recipe's stamp;
// or the messages of its refusal, the first deciding. Its images are not read: the station
// checks them against their pins where it reads them, before any phone is touched.
// save(): the plan's steps, places and journal written as the new recipe NAME, each image read
// and pinned; an existing NAME is never replaced, and NAME holds the whole file or nothing. The
// refusal's message when it was not written.
struct RecipeShelf {
    std::function<std::variant<StationPlan, std::vector<Message>>(const std::string& name)> open;
    std::function<std::optional<Message>(const std::string& name, const StationPlan& plan)> save;
};

}  // namespace norvale
