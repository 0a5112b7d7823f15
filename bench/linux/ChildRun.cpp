// Running this program again through the shell.
#include "ChildRun.h"

#include <cstdio>
#include <stdexcept>

namespace norvale::bench {
namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

ChildRun runChild(const std::string& self, const std::string& arguments,
                  const std::string& environment) {
    const std::string command = environment + quoted(self) + " " + arguments + " 2>&1";
    std::FILE* child = popen(command.c_str(), "r");
    if (!child) throw std::runtime_error("can't start " + self);
    ChildRun run;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, child)) run.output += buffer;
    run.status = pclose(child);
    return run;
}

}  // namespace norvale::bench
