// Files of the host, through the C runtime, with fault hooks for what a test machine can't stage.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/FileSystem.h"

namespace norvale {

// How the names of the working folder's files are written: as on Windows (".\bin\loader.bin"),
// which the simulated dialog and its tests see on every host, or as on POSIX systems
// ("bin/loader.bin"), which the command line shows on Linux.
enum class FileNameStyle { windows, posix };

// Names are relative to the working directory; '\' separates folders on every host. A name that
// Windows would refuse (empty, or holding one of <>"|?* or a ':' other than a drive's) is refused
// here too, so the tests see the same outcome on every host.
//
// The hooks stand in for what can't be arranged portably: a file another program holds without
// sharing, a read-only file (Wine running as root ignores the attribute), a file too large to
// create, a full disk, a rename refused, another program making a file while a dump is written.
// They apply to every file opened after they are set.
class HostFileSystem final : public FileSystem {
public:
    explicit HostFileSystem(FileNameStyle style = FileNameStyle::windows);

    std::string workingFolderName(std::string_view relative) const override;
    OpenedFile openForReading(const std::string& name) override;
    OpenedFile createNew(const std::string& name) override;
    OpenedFile openForAppending(const std::string& name) override;
    FileError checkNameFree(const std::string& name) override;
    FileError renameNoReplace(const std::string& from, const std::string& to) override;
    FileError createFolder(const std::string& name) override;

    // Opening or creating `name` fails with `error`, touching nothing.
    void failOpening(const std::string& name, FileError error);
    // Renaming a file to `name` fails with `error`, touching nothing.
    void failRenaming(const std::string& name, FileError error);
    // `action` runs once, on the writing thread, right after the `nth` append from now to any
    // file has written its bytes.
    void afterAppend(std::uint64_t nth, std::function<void()> action);
    // From the `nth` append from now (1: the next) on, every append to `name` fails with `error`
    // and writes nothing, as a share that went away or a stick that filled up.
    void failAppending(const std::string& name, std::uint64_t nth, FileError error);
    // flush() on any file fails with `error` (none lifts it), as a disk that can't take it.
    void failFlushing(FileError error);
    // With false, flush() and the folders' flushes return at once without asking the system: the
    // benchmark's measure of what they cost. Not cleared by clearFaults().
    void flushToDisk(bool on);
    // size() of `name` reports `size` whatever the file holds (nothing is allocated for it).
    void reportSize(const std::string& name, std::uint64_t size);
    // From now on, appends to any file fail with diskFull once `bytes` more have been written;
    // the append that crosses the limit writes what fits. nullopt lifts the limit.
    void limitSpace(std::optional<std::uint64_t> bytes);
    // A slow disk: `hook` runs before every append to any file, on the appending thread, with no
    // lock held; the append waits for it. An empty hook lifts it.
    void beforeAppend(std::function<void()> hook);
    void clearFaults();

    std::size_t liveFiles() const;
    std::uint64_t filesOpened() const;
    // How many flush() calls reached the disk, and how many flushes of a folder did (after a
    // rename, a folder made, a file created for appending; POSIX systems only).
    std::uint64_t flushes() const;
    std::uint64_t folderFlushes() const;

    // The name as the host's C runtime takes it.
    static std::string hostPath(const std::string& name);
    static bool acceptableName(const std::string& name);

    // State that open files share with their file system (and may outlive it).
    struct Shared {
        std::mutex mutex;
        std::map<std::string, FileError> failing;
        std::map<std::string, FileError> failingRenames;
        // By path: the appends that still succeed, then the error of every later one.
        std::map<std::string, std::pair<std::uint64_t, FileError>> failingAppends;
        std::uint64_t appendsBeforeAction = 0;
        std::function<void()> appendAction;
        std::map<std::string, std::uint64_t> sizes;
        FileError failingFlush = FileError::none;
        std::atomic<bool> toDisk{true};
        std::atomic<std::uint64_t> flushes{0};
        std::atomic<std::uint64_t> folderFlushes{0};
        std::optional<std::uint64_t> spaceLeft;
        std::shared_ptr<const std::function<void()>> beforeAppend;
        std::atomic<std::size_t> live{0};
        std::atomic<std::uint64_t> opened{0};
    };

private:
    std::optional<FileError> plannedFailure(const std::string& path);
    // Puts the entry of `path` in its folder on the disk (POSIX systems; elsewhere nothing).
    void flushFolderOf(const std::string& path);
    OpenedFile wrap(std::FILE* stream, const std::string& path);

    FileNameStyle style_;
    std::shared_ptr<Shared> shared_;
};

// The error a failed C runtime call left in errno, as the seam reports it.
FileError fileErrorFromErrno(int error);

}  // namespace norvale
