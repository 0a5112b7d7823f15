// Writes norvale-cli's manual page or its bash completion for the build; it is not installed.
//   norvale-cli-docs man FILE | completion FILE
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

#include "cli/CliCompletion.h"
#include "cli/CliManPage.h"

int main(int argc, char** argv) {
    using namespace norvale;
    const std::string_view what = argc == 3 ? argv[1] : "";
    if (what != "man" && what != "completion") {
        std::fputs("usage: norvale-cli-docs man|completion FILE\n", stderr);
        return 1;
    }
    const std::string text = what == "man" ? cliManPage() : cliBashCompletion();
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "norvale-cli-docs: could not write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
