// The text of norvale-cli --help, whole or for one command.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace norvale {

// "norvale-cli 0.5": the project's version, from the build.
std::string cliVersionLine();

// The whole help for an empty topic, a command's own for its name, nullopt for anything else.
std::optional<std::string> cliHelp(std::string_view topic);

}  // namespace norvale
