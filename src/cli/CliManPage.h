// norvale-cli's manual page, made from the same data as its --help.
#pragma once

#include <string>
#include <string_view>

namespace norvale {

// The page in roff with the man(7) macros, section 1: name, synopsis, description, commands,
// options, exit status, environment, files, notes and examples.
std::string cliManPage();

// `text` as roff reads it literally in running text: backslashes and minus signs escaped (every
// '-' of the help is one a user types), a line that would start a request made plain.
std::string manEscaped(std::string_view text);

}  // namespace norvale
