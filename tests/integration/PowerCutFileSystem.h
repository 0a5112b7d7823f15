// A file system in memory that keeps what reached the disk apart from what was only written, and
// can lose the power at any step.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/FileSystem.h"
#include "protocol/CommandFormats.h"

namespace norvale::testing {

// What the disk holds at a moment: files by name (with '/' between folders) and folders.
struct DiskState {
    std::map<std::string, Bytes> files;
    std::set<std::string> folders;
};

// Follows the seam's contract, and no more than it promises of the disk:
// - What a file holds reaches the disk only at flush(): until then a power cut keeps what the
//   last flush kept (nothing for a file never flushed).
// - A name reaches the disk when the call that made it returns, as the contract says of
//   renameNoReplace(), createFolder() and a file openForAppending() created; a file createNew()
//   made keeps its name too (the seam promises neither, so the worse case is taken: a ".part"
//   that stays). A file renamed before its flush keeps the new name with what was flushed.
// - Files it did not write (the loader images, an image to write) are read from `ground`, which
//   nothing here changes.
// Each step that changes the disk (a file or folder made, an append, a flush, a rename) is
// counted; with cutAfter(n), the disk as it is right after the n-th step is kept as the state a
// power cut then leaves (atCut()). The program runs on afterwards, as if the power held, so a
// cut's state never depends on what came later.
class PowerCutFileSystem final : public FileSystem {
public:
    explicit PowerCutFileSystem(FileSystem& ground) : ground_(ground) {}

    void cutAfter(std::uint64_t step) { cutStep_ = step; }
    std::uint64_t steps() const;
    // The state the cut left; nullopt while the run has not reached its step.
    std::optional<DiskState> atCut() const;
    // What a power cut now would leave, and what the files hold now (flushed or not).
    DiskState onDisk() const;
    DiskState written() const;

    std::string workingFolderName(std::string_view relative) const override {
        return ground_.workingFolderName(relative);
    }
    OpenedFile openForReading(const std::string& name) override;
    OpenedFile createNew(const std::string& name) override;
    OpenedFile openForAppending(const std::string& name) override;
    FileError checkNameFree(const std::string& name) override;
    FileError renameNoReplace(const std::string& from, const std::string& to) override;
    FileError createFolder(const std::string& name) override;

    // One file's two contents, shared by every name it has had and every handle on it.
    struct Node {
        Bytes written;
        Bytes flushed;
    };

private:
    class MemoryFile;
    // Under mutex_: one more step; at the cut's step the disk is kept as it is now.
    void stepLocked();
    DiskState onDiskLocked() const;
    bool folderExistsLocked(const std::string& folder) const;
    OpenedFile open(const std::shared_ptr<Node>& node);

    FileSystem& ground_;
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Node>> names_;  // every name made here, by key()
    std::set<std::string> folders_;
    std::uint64_t steps_ = 0;
    std::optional<std::uint64_t> cutStep_;
    std::optional<DiskState> atCut_;
};

}  // namespace norvale::testing
