// Fuzzes the reading of a backup's SHA256SUMS: whatever the file holds, what is read back is only
// well-formed entries for files of the folder itself, and they read back the same when written
// out again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "station/BackupSet.h"
#include "operations/DumpFileName.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace norvale;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ChecksumList list = parseChecksums(text);
    std::string again;
    for (const ChecksumEntry& entry : list.entries) {
        if (entry.digest.size() != 64 ||
            entry.digest.find_first_not_of("0123456789abcdef") != std::string::npos) {
            std::abort();
        }
        if (!isPlainFileName(entry.name)) std::abort();
        again += entry.digest + "  " + entry.name + "\n";
    }
    // A malformed line is one of the file's lines; the entries are those before it.
    if (list.badLine != 0 && list.badLine != list.entries.size() + 1) std::abort();
    const ChecksumList reread = parseChecksums(again);
    if (reread.badLine != 0 || reread.entries != list.entries) std::abort();
    return 0;
}
