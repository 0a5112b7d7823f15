// Images loaded and output names settled for one phone's chain or for every phone of a station.
#include "station/ChainFiles.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "core/Utf8Path.h"
#include "operations/DumpFileName.h"
#include "protocol/WholeFile.h"
#include "station/BackupSet.h"
#include "station/PhoneFolder.h"
#include "station/RestoreSource.h"
#include "station/Sha256.h"

namespace norvale {
namespace {

// A new folder beside `folder`, named as `backup` names one; "-2", "-3"... when that name is
// taken (a backup restored in the second it was made) or chosen already in this run.
std::string folderBeside(const std::string& folder, FileSystem& files,
                         const std::set<std::string>& chosen) {
    // UTF-8 both ways: a narrow path is the ANSI code page's on Windows (Utf8Path.h).
    std::filesystem::path place = utf8Path(folder).value_or(std::filesystem::path());
    if (!place.has_filename()) place = place.parent_path();  // "saved/" is the folder "saved"
    const std::string base = defaultBackupFolderName();
    std::string name;
    for (unsigned n = 1; n < 100; ++n) {
        name = pathUtf8(place.parent_path() / (n == 1 ? base : base + "-" + std::to_string(n)))
                   .value_or(std::string());
        if (files.checkNameFree(name) == FileError::none && chosen.count(name) == 0) break;
    }
    return name;  // after 99 taken names, the last: the check of the outputs refuses it
}

}  // namespace

void anchorToTypedFolder(std::string& path) {
    const auto typed = utf8Path(path);
    if (!typed) return;
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(*typed, ignored);
    if (absolute.empty()) return;
    if (const auto name = pathUtf8(absolute)) path = *name;
}

std::optional<Message> loadChainImages(FileSystem& files, const std::vector<ChainStep>& steps,
                                       std::vector<SharedImage>& images) {
    for (const ChainStep& step : steps) {
        if (const auto* restore = std::get_if<RestoreStep>(&step)) {
            RestoreSource source = readRestoreSource(files, restore->folder);
            if (source.refusal) return source.refusal;
            for (Bytes& image : source.images) {
                images.push_back(std::make_shared<const Bytes>(std::move(image)));
            }
            continue;
        }
        const auto* write = std::get_if<WriteStep>(&step);
        if (write == nullptr) continue;
        LoadedFile image = loadWholeFile(files, write->image);
        if (image.outcome != LoadOutcome::loaded) {
            return Message(loadFailureReason(image.outcome), MessageDetail::name(write->image));
        }
        // The digest is taken of the very bytes every phone gets, so nothing can change between
        // the check and the writes.
        if (write->pin) {
            const std::string digest = sha256Hex(image.data);
            if (image.data.size() != write->pin->size || digest != write->pin->sha256) {
                return Message(MessageId::imageNotPinned, MessageDetail::name(write->image),
                               MessageDetail::bytes(image.data.size()), MessageDetail::name(digest),
                               MessageDetail::bytes(write->pin->size),
                               MessageDetail::name(write->pin->sha256));
            }
        }
        if (image.data.size() < minimumImageSize(write->plan)) {
            return Message(MessageId::imageTooShort, MessageDetail::name(write->image));
        }
        images.push_back(std::make_shared<const Bytes>(std::move(image.data)));
    }
    return std::nullopt;
}

std::vector<std::string> settleChainOutputs(std::vector<ChainStep>& steps,
                                            const std::string& folder,
                                            const std::string& backupFolder, FileSystem& files) {
    std::vector<std::string> outputs;
    std::set<std::string> folders;
    const auto backupFiles = [&outputs, &folders](const std::string& into) {
        folders.insert(into);
        for (const BackupRegion& region : kBackupRegions) {
            outputs.push_back(pathInFolder(into, region.fileName));
        }
        outputs.push_back(pathInFolder(into, kChecksumsFileName));
    };
    for (ChainStep& step : steps) {
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
            backupFiles(*backup->folder);
        } else if (auto* restore = std::get_if<RestoreStep>(&step);
                   restore && restore->backupFirst) {
            // A station's phones share the folder restored from: each saves its own flash in its
            // own folder instead.
            restore->backupFolder = folder.empty()
                                        ? folderBeside(restore->folder, files, folders)
                                        : pathInFolder(folder, kSavedBeforeRestoreFolder);
            backupFiles(*restore->backupFolder);
        }
    }
    return outputs;
}

}  // namespace norvale
