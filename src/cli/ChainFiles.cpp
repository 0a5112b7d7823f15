// Images loaded and output names settled for one phone's chain or for every phone of a station.
#include "cli/ChainFiles.h"

#include <filesystem>
#include <system_error>

#include "cli/BackupSet.h"
#include "cli/PhoneFolder.h"
#include "operations/DumpFileName.h"
#include "protocol/WholeFile.h"

namespace norvale {

void anchorToTypedFolder(std::string& path) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    if (!absolute.empty()) path = absolute.string();
}

std::optional<Refusal> loadChainImages(FileSystem& files, const std::vector<CliStep>& steps,
                                       std::vector<SharedImage>& images) {
    for (const CliStep& step : steps) {
        const auto* write = std::get_if<WriteStep>(&step);
        if (write == nullptr) continue;
        LoadedFile image = loadWholeFile(files, write->image);
        if (image.outcome != LoadOutcome::loaded) {
            return Refusal{loadFailureReason(image.outcome), write->image};
        }
        if (image.data.size() < minimumImageSize(write->plan)) {
            return Refusal{MessageId::imageTooShort, write->image};
        }
        images.push_back(std::make_shared<const Bytes>(std::move(image.data)));
    }
    return std::nullopt;
}

std::vector<std::string> settleChainOutputs(std::vector<CliStep>& steps, const std::string& folder,
                                            const std::string& backupFolder) {
    std::vector<std::string> outputs;
    for (CliStep& step : steps) {
        if (auto* read = std::get_if<ReadStep>(&step)) {
            const FlashRange& range = read->range;
            if (read->output) {
                read->output = pathInFolder(folder, *read->output);
                outputs.push_back(*read->output);
                continue;
            }
            const std::string name =
                dumpFileName(range.startText, range.endText, range.start, range.end);
            // A name the dialog would refuse is refused by the read itself, as there.
            if (!isPlainFileName(name)) continue;
            if (!folder.empty()) read->output = pathInFolder(folder, name);
            outputs.push_back(pathInFolder(folder, name));
        } else if (auto* write = std::get_if<WriteStep>(&step); write && write->backup) {
            write->backup = pathInFolder(folder, *write->backup);
            outputs.push_back(*write->backup);
        } else if (auto* backup = std::get_if<BackupStep>(&step)) {
            backup->folder = backup->folder ? pathInFolder(folder, *backup->folder) : backupFolder;
            for (const BackupRegion& region : kBackupRegions) {
                outputs.push_back(pathInFolder(*backup->folder, region.fileName));
            }
            outputs.push_back(pathInFolder(*backup->folder, kChecksumsFileName));
        }
    }
    return outputs;
}

}  // namespace norvale
