// norvale-cli's bash completion, made from the same data as its --help.
#pragma once

#include <string>

namespace norvale {

// A bash script that defines _norvale_cli and registers it for norvale-cli: Tab offers the
// commands, the options before the first command, a command's own options after it, region names
// for a range, files and folders where the help's words name a FILE or a DIR, and the choices of
// an option such as --lang. It reads COMP_WORDS and COMP_CWORD only and needs no helper of the
// bash-completion package.
std::string cliBashCompletion();

}  // namespace norvale
