// The host's files with the wall time spent in them counted, so a dump's own time can be split
// into the file layer's and the rest of Norvale's.
#pragma once

#include <chrono>
#include <memory>

#include "platform/FileSystem.h"

namespace norvale::bench {

// Forwards every call to `inner` and adds the wall time it took, for the files it opened too
// (their reads, appends, size queries and closing), to one running total. Used from one thread
// at a time; the total is not guarded.
class TimedFileSystem final : public FileSystem {
public:
    explicit TimedFileSystem(FileSystem& inner) : inner_(inner) {}

    std::string workingFolderName(std::string_view relative) const override {
        return inner_.workingFolderName(relative);
    }
    OpenedFile openForReading(const std::string& name) override;
    OpenedFile createNew(const std::string& name) override;
    OpenedFile openForAppending(const std::string& name) override;
    FileError checkNameFree(const std::string& name) override;
    FileError renameNoReplace(const std::string& from, const std::string& to) override;
    FileError createFolder(const std::string& name) override;

    double insideMs() const { return std::chrono::duration<double, std::milli>(*inside_).count(); }
    void reset() { *inside_ = {}; }

private:
    using Total = std::chrono::steady_clock::duration;
    // Opens `name` through `open` of the inner file system, the opening and the file timed.
    OpenedFile timed(OpenedFile (FileSystem::*open)(const std::string&), const std::string& name);

    FileSystem& inner_;
    // Shared with the files, which may outlive this object.
    std::shared_ptr<Total> inside_ = std::make_shared<Total>();
};

}  // namespace norvale::bench
