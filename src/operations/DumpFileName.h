// The name of the file a flash range is read into.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace norvale {

// The region's name when both values match a known region (Boot.bin, PDS.bin, Panic.bin,
// CG3.bin, CG1.bin, CG18.bin); else a name built from the texts as typed, in a 22-character
// layout: Start text at 0-7, '-' at 8, End text at 9-16, ".bin" at 17-20. Each text ends with a
// terminator right after it and the name ends at the first terminator, so a short End text drops
// the extension ("10030000-3FFFF") and a short Start text stands alone ("3000", or "" when empty).
// Texts longer than 8 characters are cut to 8, as the fields hold no more.
std::string dumpFileName(std::string_view startText, std::string_view endText, std::uint32_t start,
                         std::uint32_t end);

// Whether two names are one on Windows, whose file names ignore the case of ASCII letters.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Whether `name` names a file of its own in the working directory: not empty, no folder or drive
// part, no character Windows refuses in a file name, and no device name (CON, NUL, COM1, ...),
// which would take the dump's bytes and keep none of them. The field texts are free text, so a
// built name can be any of these.
bool isPlainFileName(std::string_view name);

}  // namespace norvale
