// What norvale-cli's help says (commands, options, exit codes; for the manual page also the
// environment, files and examples), and --help's text made from it.
#include "cli/CliHelp.h"

#include <string>

namespace norvale {
namespace {

constexpr HelpEntry kCommands[] = {
    {"list [--json]", "The phones attached, one line each, fields separated by tabs:\n"
                      "id, road (driver or usb), where it is (the socket on the USB\n"
                      "road: 1-1.3 on Linux, hub1-port3 on Windows), boot version, mode,\n"
                      "USB serial number (empty when it has none). A phone this user may\n"
                      "not open is listed with an error line after it (see Permissions).\n"
                      "--json: one JSON array instead, an object per phone with the\n"
                      "fields id, road, location, serial, boot_version, mode and reason\n"
                      "(strings; reason is no_usb_permission or empty).\n"},
    {"info [--json]", "The arrival lines of the phone: boot version, mode and the CG1\n"
                      "start from KESTRIN.ini. --json: a JSON array holding the phone's\n"
                      "object as list --json gives it, with cg1_start added (a string,\n"
                      "or null without KESTRIN.ini).\n"},
    {"read RANGE [-o FILE]", "Reads flash into a new file. RANGE is boot, pds, panic or\n"
                             "START-END in hex (1 to 8 digits each), both ends included. The\n"
                             "default file name is the dialog's (PDS.bin, 10030000-1003FFFF.bin)\n"
                             "in the working folder. It is written as FILE.part and named FILE\n"
                             "once whole; an existing FILE or FILE.part is never overwritten.\n"},
    {"write REGION FILE [--no-verify] [--changed-only] [--backup FILE]",
     "Writes the image FILE. REGION is boot, pds, panic or START-END:\n"
     "the flash blocks from START up to and through END (32 KB below\n"
     "10020000, 128 KB from there), the image used from its first byte.\n"
     "After the write the flash is read back and compared with the image\n"
     "(--no-verify skips it); --backup FILE first saves the range about\n"
     "to be overwritten. --changed-only reads the blocks first and\n"
     "writes only those that differ from the image (each block written\n"
     "costs the flash an erase). One \"Success\" ends a write: after the\n"
     "verification, or after the write with --no-verify.\n"},
    {"start", "Starts the phone: it leaves flash mode.\n"},
    {"blank", "Switches the phone to BLANK mode.\n"},
    {"backup [DIR]", "Reads Boot, PDS and Panic into DIR (default: a new folder named\n"
                     "backup-YYYYMMDD-HHMMSS) with SHA256SUMS in sha256sum's format.\n"
                     "Refuses a DIR that holds any of those files.\n"},
    {"restore DIR [--no-backup]",
     "Puts back a folder backup made. First every file SHA256SUMS lists\n"
     "must have its checksum, and Boot.bin, PDS.bin and Panic.bin must\n"
     "be listed and be 65536, 65536 and 131072 bytes long; otherwise\n"
     "nothing is sent (exit code 4). Then the phone's regions are saved\n"
     "into a new folder beside DIR, named as backup names one\n"
     "(--no-backup skips it), and each region is written as with\n"
     "--changed-only, each write verified.\n"},
    {"recipe make|check [FILE] [-o FILE]",
     "A recipe is the chain in a TOML file, for every station of a line.\n"
     "recipe make -o FILE [OPTIONS] COMMAND... writes the commands (and\n"
     "--port, --journal, --no-verify, --changed-only, --backup) into FILE,\n"
     "each image by its name relative to FILE with its size and SHA-256;\n"
     "an existing FILE is never replaced. recipe check FILE reads the\n"
     "recipe and every image it names and compares them; no phone needed.\n"
     "A changed image, a key the recipe can't have or a value it can't\n"
     "take is refused with its line (exit code 4).\n"},
    {"report JOURNAL [--html FILE] [--csv FILE] [--since TIME] [--until TIME]",
     "Reads station journals (one or more) and prints the shift: phones\n"
     "served, done, failed and stopped, by place (a place failing well\n"
     "above the others is flagged), by reason, by recipe, by hour, each\n"
     "step's median and 95th percentile, the flash bytes moved. --html: a\n"
     "page with charts, self-contained and printable; --csv: one row per\n"
     "phone. TIME is UTC: 2026-12-08, 2026-12-08T08:30. A torn line is\n"
     "skipped and counted.\n"},
    {"help [COMMAND]", "This text, or one command's.\n"},
};

constexpr HelpEntry kOptions[] = {
    {"--dir DIR", "Working folder: bin\\ with the loaders, KESTRIN.ini, dumps\n"
                  "(default: the current folder).\n"},
    {"--device ID", "The phone to use, by its id from list (default: the first).\n"},
    {"--wait SECONDS", "Wait up to SECONDS for a phone to be attached.\n"},
    {"--no-verify", "Do not read writes back (--verify, the default, does).\n"},
    {"--backup FILE", "With one write in the run: save what it overwrites to FILE.\n"},
    {"--changed-only", "Every write of the run as with write --changed-only.\n"},
    {"--dry-run", "Check the arguments and every file as a run does, then print\n"
                  "the plan: per command the blocks it writes (address, size, image\n"
                  "bytes), the ranges it reads, the files it makes, and the time the\n"
                  "transfers take on a full-speed USB link. No phone is needed and\n"
                  "nothing is sent; the exit code is the run's for argument and file\n"
                  "problems, else 0. Where only the blocks that differ are written,\n"
                  "every block is planned as a candidate.\n"},
    {"--sim", "Use the simulated phone (NORVALE_SIM_ROAD, NORVALE_SIM_TRACE and\n"
              "NORVALE_SIM_FAULTS apply).\n"},
    {"--quiet, -q", "Print nothing but errors (and list's lines).\n"},
    {"--station", "Run the commands on every phone that arrives, several at once, each\n"
                  "in a session of its own, until Ctrl+C (or --count). Each phone's files\n"
                  "go into a new folder LOCATION-YYYYMMDD-HHMMSS (UTC) in the working\n"
                  "folder: -o FILE, --backup FILE and backup [DIR] name files inside it.\n"},
    {"--port LOCATION", "With --station: only phones at LOCATION (an id or a place as list\n"
                        "prints it); repeat it for several.\n"},
    {"--count N", "With --station: end once N phones have finished.\n"},
    {"--journal FILE", "With --station: append one line of JSON per phone to FILE.\n"},
    {"--recipe FILE", "Run the recipe FILE instead of commands (see recipe). Every image\n"
                      "is read and checked against it before any phone is touched. With\n"
                      "--station its places and journal apply unless given here, and the\n"
                      "journal names the recipe and its SHA-256 with each phone.\n"},
    {"--clone-pds", "With --station: restore writes the backup's PDS to every phone too\n"
                    "(without it, Boot and Panic only: PDS belongs to the phone it came from).\n"},
    {"--lang ru|en", "Language of the messages (default: the system's).\n"},
    {"--help, -h", "This text; after a command, that command's.\n"},
    {"--version", "The program's version.\n"},
};

constexpr ExitCodeHelp kExitCodes[] = {
    {ExitCode::done, "done\n"},
    {ExitCode::usage, "usage: an unknown command or option, a bad range or address\n"},
    {ExitCode::noPhone, "no phone, or the phone left\n"},
    {ExitCode::transferFailed, "a transfer failed or the phone did not answer\n"},
    {ExitCode::fileProblem,
     "a file problem: a loader image, the image file, a dump that exists or can't be\n"
     "written, a backup folder that can't be restored, a recipe that can't be read or\n"
     "whose image has changed\n"},
    {ExitCode::verifyDifference, "verification found a difference\n"},
    {ExitCode::somePhoneFailed,
     "a station: at least one phone failed (its journal line says why)\n"},
    {ExitCode::journalIncomplete,
     "a station: a journal line could not be written; before 130 and 6\n"},
    {ExitCode::interrupted, "interrupted (Ctrl+C)\n"},
};

constexpr HelpEntry kEnvironment[] = {
    {"NORVALE_SIM_ROAD",
     "With --sim: the road the simulated phone stands behind, driver (the default) or usb.\n"},
    {"NORVALE_SIM_TRACE",
     "With --sim: a file that gets one line for every request to the simulated phone, in hex,\n"
     "after a first line that names the road.\n"},
    {"NORVALE_SIM_FAULTS",
     "With --sim: faults of the simulated phone, separated by commas, N counting its pipe\n"
     "transfers from 1: unplug@N (the phone is removed before the N-th), nodata@N (the N-th, a\n"
     "read, brings no data), hang@N (the N-th never completes), stuck@ADDRESS (the flash block\n"
     "holding ADDRESS, in hex, keeps its old contents when written).\n"},
    {"LC_ALL, LC_MESSAGES, LANG",
     "The first of them that is set chooses the language of the messages: Russian for ru,\n"
     "English for any other (--lang decides over them).\n"},
};

constexpr HelpEntry kFiles[] = {
    {"bin/loader.bin", "The loader, uploaded to the phone's RAM for every command.\n"},
    {"bin/LTE2_jump.bin", "The jump image, uploaded with the first command after the phone\n"
                          "arrives.\n"},
    {"bin/ram.bin", "The RAM loader, 2048 bytes.\n"},
    {"KESTRIN.ini", "Bytes 7 to 14: the start address of CG1, eight hex characters.\n"},
    {"/usr/lib/udev/rules.d/70-norvale.rules",
     "The udev rule that gives the user at the seat access to a phone in flash mode (USB\n"
     "22b8:4903), so that norvale-cli needs no root.\n"},
};

constexpr ExampleHelp kExamples[] = {
    {"Save Boot, PDS and Panic of the phone attached into a new folder, then write and verify a\n"
     "new PDS and start the phone:\n",
     "norvale-cli backup\n"
     "norvale-cli write pds new-pds.bin start\n"},
    {"Twenty phones one after the other, each backed up and flashed, stopping at the first that\n"
     "fails (the exit code tells why):\n",
     "for n in $(seq 1 20); do\n"
     "  echo \"Attach phone $n in flash mode\"\n"
     "  norvale-cli -q --wait 120 backup \"phone-$n\" write pds new-pds.bin start || exit\n"
     "done\n"},
    {"A station: every phone attached at the hub's ports 1-1.3 and 1-1.4 is backed up, flashed\n"
     "and started as it comes, several at once, one line of JSON each in station.jsonl:\n",
     "norvale-cli --station --port 1-1.3 --port 1-1.4 --journal station.jsonl \\\n"
     "  backup write pds new-pds.bin start\n"},
    {"A line's recipe made once, checked and run on every station, then the shift's report:\n",
     "norvale-cli recipe make -o line.toml --journal station.jsonl \\\n"
     "  backup write pds images/new-pds.bin start\n"
     "norvale-cli recipe check line.toml\n"
     "norvale-cli --station --recipe line.toml\n"
     "norvale-cli report station.jsonl --html shift.html\n"},
    {"The simulated phone on the USB road, every request it gets written to trace.txt:\n",
     "NORVALE_SIM_ROAD=usb NORVALE_SIM_TRACE=trace.txt norvale-cli --sim info\n"},
};

constexpr CliReference kReference{
    "norvale-cli [OPTIONS] COMMAND [ARGS] [COMMAND [ARGS]]...",
    "service commands for LTE2 phones in flash mode",
    "Service commands for LTE2 phones in flash mode. Several commands run in order on one\n"
    "arrival of the phone (the jump image goes with the first of them only) and the run stops\n"
    "at the first failure, e.g.\n",
    "norvale-cli read pds -o old.bin write pds new.bin start\n",
    kCommands,
    kOptions,
    "Ctrl+C stops the running command at its next transfer (a transfer the phone never\n"
    "answers is cut within a second): a dump keeps what arrived in its FILE.part, the line says\n"
    "how much, and the phone's read is ended. A second Ctrl+C ends the program.\n",
    "On Linux a phone in flash mode is a USB device node that only root may open unless the\n"
    "udev rule 70-norvale.rules gives the user at the seat access to it (the package installs\n"
    "it in /usr/lib/udev/rules.d; by hand: copy it to /etc/udev/rules.d, then run\n"
    "udevadm control --reload-rules and udevadm trigger). Plug the phone in again after\n"
    "installing it. Without it a command stops with no_usb_permission (exit code 2). A user\n"
    "who is not at the seat (SSH, a station run as a service) needs the group plugdev, which\n"
    "the rule also gives the phone to: sudo usermod -aG plugdev USER, then log in again (a\n"
    "systemd service: SupplementaryGroups=plugdev).\n",
    kExitCodes,
    kEnvironment,
    "The loader images and KESTRIN.ini are looked for in the working folder (--dir, else the\n"
    "current folder). The loader images come from the phone's maker.\n",
    kFiles,
    kExamples,
};

// Each line of `lines` after `indent` spaces, the first after `first` instead.
void appendIndented(std::string& text, std::string_view first, std::string_view lines,
                    std::size_t indent) {
    text += first;
    bool lineStart = false;
    for (const char c : lines) {
        if (lineStart) text.append(indent, ' ');
        text += c;
        lineStart = c == '\n';
    }
}

// "  words  description": the description from column 23, or on the next line when the words
// leave no room.
void appendEntry(std::string& text, const HelpEntry& entry) {
    constexpr std::size_t kColumn = 23;
    std::string first = "  " + std::string(entry.words);
    if (first.size() < kColumn) {
        first.resize(kColumn, ' ');
    } else {
        first += '\n';
        first.append(kColumn, ' ');
    }
    appendIndented(text, first, entry.description, kColumn);
}

void appendUsage(std::string& text) {
    text += "Usage: ";
    text += kReference.synopsis;
    text += "\n\n";
    text += kReference.introduction;
    text += "  ";
    text += kReference.introductionExample;
}

void appendExitCodes(std::string& text) {
    text += "\nExit codes:\n";
    for (const ExitCodeHelp& exit : kExitCodes) {
        std::string first = "  " + std::to_string(static_cast<int>(exit.code));
        first.resize(7, ' ');
        appendIndented(text, first, exit.meaning, 7);
    }
}

}  // namespace

const CliReference& cliReference() { return kReference; }

std::string cliVersionLine() { return std::string("norvale-cli ") + NORVALE_VERSION; }

std::string_view commandName(const HelpEntry& command) {
    return command.words.substr(0, command.words.find(' '));
}

std::optional<std::string> cliHelp(std::string_view topic) {
    std::string text;
    appendUsage(text);
    if (topic.empty()) {
        text += "\nCommands:\n";
        for (const HelpEntry& command : kCommands) appendEntry(text, command);
        text += "\nOptions (before the first command):\n";
        for (const HelpEntry& option : kOptions) appendEntry(text, option);
        text += '\n';
        text += kReference.interruption;
        text += "\nPermissions:\n";
        appendIndented(text, "  ", kReference.permissions, 2);
        appendExitCodes(text);
        return text;
    }
    for (const HelpEntry& command : kCommands) {
        if (commandName(command) == topic) {
            text += '\n';
            appendEntry(text, command);
            appendExitCodes(text);
            return text;
        }
    }
    return std::nullopt;
}

}  // namespace norvale
