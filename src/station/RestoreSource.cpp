// The checks a backup folder passes before anything of it goes to a phone.
#include "station/RestoreSource.h"

#include <algorithm>

#include "protocol/WholeFile.h"
#include "station/BackupSet.h"
#include "station/PhoneFolder.h"
#include "station/Sha256.h"

namespace norvale {
namespace {

RestoreSource refused(MessageId reason, const std::string& name) {
    RestoreSource source;
    source.refusal = Message(reason, MessageDetail::name(name));
    return source;
}

}  // namespace

RestoreSource readRestoreSource(FileSystem& files, const std::string& folder) {
    const std::string sumsPath = pathInFolder(folder, kChecksumsFileName);
    const LoadedFile sums = loadWholeFile(files, sumsPath);
    if (sums.outcome != LoadOutcome::loaded) {
        return refused(loadFailureReason(sums.outcome), sumsPath);
    }
    const ChecksumList list =
        parseChecksums({reinterpret_cast<const char*>(sums.data.data()), sums.data.size()});
    if (list.badLine != 0) {
        return refused(MessageId::badChecksumLine, sumsPath + ":" + std::to_string(list.badLine));
    }
    for (const BackupRegion& region : kBackupRegions) {
        const bool listed =
            std::any_of(list.entries.begin(), list.entries.end(),
                        [&](const auto& entry) { return entry.name == region.fileName; });
        if (!listed)
            return refused(MessageId::notInChecksums, pathInFolder(folder, region.fileName));
    }

    RestoreSource source;
    for (const ChecksumEntry& entry : list.entries) {
        const std::string path = pathInFolder(folder, entry.name);
        LoadedFile file = loadWholeFile(files, path);
        if (file.outcome != LoadOutcome::loaded) {
            return refused(loadFailureReason(file.outcome), path);
        }
        if (sha256Hex(file.data) != entry.digest) return refused(MessageId::checksumMismatch, path);
        const auto region =
            std::find_if(kBackupRegions.begin(), kBackupRegions.end(),
                         [&](const BackupRegion& known) { return known.fileName == entry.name; });
        if (region == kBackupRegions.end()) continue;  // vouched for, but no region of a phone
        if (file.data.size() != region->size()) return refused(MessageId::wrongRegionSize, path);
        source.images[static_cast<std::size_t>(region - kBackupRegions.begin())] =
            std::move(file.data);
    }
    return source;
}

}  // namespace norvale
