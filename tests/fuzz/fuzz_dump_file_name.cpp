// Fuzzes the dump name with arbitrary field texts: never longer than its layout, never a path.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "operations/DumpFileName.h"
#include "protocol/CommandFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
    const std::string_view startText = input.substr(0, split);
    const std::string_view endText = input.substr(split);
    const std::string name = norvale::dumpFileName(
        startText, endText, norvale::parseHexAddress(startText), norvale::parseHexAddress(endText));
    // The layout holds 8 + 1 + 8 + 4 characters, and the name ends at the first terminator.
    if (name.size() > 21) std::abort();
    if (name.find('\0') != std::string::npos) std::abort();
    // A name that passes the check has no folder or drive part, whatever was typed.
    if (norvale::isPlainFileName(name) &&
        (name.empty() || name.find_first_of("\\/:") != std::string::npos)) {
        std::abort();
    }
    return 0;
}
