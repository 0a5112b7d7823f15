// One phone's run as the station's journal keeps it, and the JSON line it is written as.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "station/UtcStamp.h"

namespace norvale {

struct JournalFile {
    std::string name;    // as the file system took it (the phone's folder in it), UTF-8
    std::string sha256;  // of the file as it lies on disk, lower-case hex
};

struct JournalCommand {
    std::string command;      // the command as typed: "write pds new.bin", "backup"
    std::string result;       // "done", "failed", or "not_run" after a failure or a stop
    std::uint64_t bytes = 0;  // flash bytes the command moved (read, written, compared)
    std::uint64_t ms = 0;     // how long it ran, by the wall clock; 0 when it did not run
    std::vector<JournalFile> files;
};

struct JournalRecord {
    std::string location;     // UTF-8
    std::string road;         // "usb" or "driver"
    std::string serial;       // the phone's USB serial number; "" when it has none
    std::string bootVersion;  // the phone's bytes, Windows-1251
    std::string mode;         // the phone's bytes, Windows-1251
    WallTime started;
    WallTime ended;
    std::vector<JournalCommand> commands;
    // "passed" when every verification that ran found the flash equal to the image, "mismatch"
    // when one found a difference, "" when no verification ran to its end.
    std::string verify;
    int exitCode = 0;
    std::string reason;  // the error's stable name; "" when the run was done
    std::string error;   // the error line as the operator read it, UTF-8; "" when done
    // The recipe the chain came from, as named on the command line (UTF-8), and the SHA-256 of
    // its bytes; "" when the chain was typed.
    std::string recipe;
    std::string recipeSha256;
};

// The record as one line of JSON ending in "\n", the fields in this order:
// {"location":..,"road":..,"serial":..,"boot_version":..,"mode":..,"started":..,"ended":..,
//  "commands":[{"command":..,"result":..,"bytes":N,"ms":N,"files":[{"name":..,"sha256":..}]}],
//  "verify":..,"exit_code":N,"reason":..,"error":..}
// with no spaces between the tokens; a chain from a recipe adds "recipe":..,"recipe_sha256":..
// before the closing brace. The phone's bytes are decoded from Windows-1251.
std::string journalLine(const JournalRecord& record);

}  // namespace norvale
