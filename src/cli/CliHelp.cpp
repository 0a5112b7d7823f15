// Usage, commands, options and exit codes, as --help prints them.
#include "cli/CliHelp.h"

#include <array>

namespace norvale {
namespace {

struct CommandHelp {
    std::string_view name;
    std::string_view text;
};

constexpr std::string_view kUsage =
    "Usage: norvale-cli [OPTIONS] COMMAND [ARGS] [COMMAND [ARGS]]...\n"
    "       norvale-cli --station [--port LOCATION]... [--count N] [--journal FILE] [OPTIONS]\n"
    "                   COMMAND [ARGS]...\n"
    "\n"
    "Service commands for LTE2 phones in flash mode. Several commands run in order in one\n"
    "session (the jump image is sent once) and the run stops at the first failure, e.g.\n"
    "  norvale-cli read pds -o old.bin write pds new.bin start\n";

constexpr std::array<CommandHelp, 8> kCommands{{
    {"list",
     "  list                 The phones attached, one line each, fields separated by tabs:\n"
     "                       id, road (driver or usb), where it is, boot version, mode.\n"},
    {"info",
     "  info                 The arrival lines of the phone: boot version, mode and the CG1\n"
     "                       start from KESTRIN.ini.\n"},
    {"read",
     "  read RANGE [-o FILE] Reads flash into a new file. RANGE is boot, pds, panic or\n"
     "                       START-END in hex (1 to 8 digits each), both ends included. The\n"
     "                       default file name is the dialog's (PDS.bin, 10030000-1003FFFF.bin)\n"
     "                       in the working folder. It is written as FILE.part and named FILE\n"
     "                       once whole; an existing FILE or FILE.part is never overwritten.\n"},
    {"write",
     "  write REGION FILE [--no-verify] [--backup FILE]\n"
     "                       Writes the image FILE. REGION is boot, pds, panic or START-END:\n"
     "                       the flash blocks from START up to and through END (32 KB below\n"
     "                       10020000, 128 KB from there), the image used from its first byte.\n"
     "                       After the write the flash is read back and compared with the image\n"
     "                       (--no-verify skips it); --backup FILE first saves the range about\n"
     "                       to be overwritten.\n"},
    {"start", "  start                Starts the phone: it leaves flash mode.\n"},
    {"blank", "  blank                Switches the phone to BLANK mode.\n"},
    {"backup",
     "  backup [DIR]         Reads Boot, PDS and Panic into DIR (default: a new folder named\n"
     "                       backup-YYYYMMDD-HHMMSS) with SHA256SUMS in sha256sum's format.\n"
     "                       Refuses a DIR that holds any of those files.\n"},
    {"help", "  help [COMMAND]       This text, or one command's.\n"},
}};

constexpr std::string_view kOptions =
    "\n"
    "Options (before the first command):\n"
    "  --dir DIR            Working folder: bin\\ with the loaders, KESTRIN.ini, dumps\n"
    "                       (default: the current folder).\n"
    "  --device ID          The phone to use, by its id from list (default: the first).\n"
    "  --wait SECONDS       Wait up to SECONDS for a phone to be attached.\n"
    "  --no-verify          Do not read writes back (--verify, the default, does).\n"
    "  --backup FILE        With one write in the run: save what it overwrites to FILE.\n"
    "  --sim                Use the simulated phone (NORVALE_SIM_ROAD, NORVALE_SIM_TRACE and\n"
    "                       NORVALE_SIM_FAULTS apply).\n"
    "  --quiet, -q          Print nothing but errors (and list's lines).\n"
    "  --station            Run the commands on every phone that arrives, several at once,\n"
    "                       each in a session of its own, until Ctrl+C (or --count). Each\n"
    "                       phone's files go into a new folder LOCATION-YYYYMMDD-HHMMSS (UTC):\n"
    "                       -o FILE, --backup FILE and backup DIR name files inside it.\n"
    "  --port LOCATION      With --station: only phones at LOCATION (as list prints it);\n"
    "                       repeat it for several.\n"
    "  --count N            With --station: end once N phones have finished.\n"
    "  --journal FILE       With --station: append one JSON line per phone to FILE.\n"
    "  --lang ru|en         Language of the messages (default: the system's).\n"
    "  --help, -h           This text; after a command, that command's.\n"
    "  --version            The program's version.\n"
    "\n"
    "Ctrl+C stops the running command at its next transfer: a dump keeps what arrived in its\n"
    "FILE.part, the line says how much, and the phone's read is ended. A second Ctrl+C ends\n"
    "the program.\n";

constexpr std::string_view kExitCodes =
    "\n"
    "Exit codes:\n"
    "  0    done\n"
    "  1    usage: an unknown command or option, a bad range or address\n"
    "  2    no phone, or the phone left\n"
    "  3    a transfer failed or the phone did not answer\n"
    "  4    a file problem: a loader image, the image file, a dump that exists or can't be\n"
    "       written\n"
    "  5    verification found a difference\n"
    "  6    a station: at least one phone failed (the journal says which and why)\n"
    "  130  interrupted (Ctrl+C)\n";

}  // namespace

std::string cliVersionLine() { return std::string("norvale-cli ") + NORVALE_VERSION; }

std::optional<std::string> cliHelp(std::string_view topic) {
    if (topic.empty()) {
        std::string text(kUsage);
        text += "\nCommands:\n";
        for (const CommandHelp& command : kCommands) text += command.text;
        text += kOptions;
        text += kExitCodes;
        return text;
    }
    for (const CommandHelp& command : kCommands) {
        if (command.name == topic) {
            return std::string(kUsage) + "\n" + std::string(command.text) + std::string(kExitCodes);
        }
    }
    return std::nullopt;
}

}  // namespace norvale
