// C stdio files with errno mapped to FileError; create-new through an exclusive low-level open,
// renames that refuse a taken name, names flushed with their folder.
#include "HostFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <share.h>
#else
#include <unistd.h>
#endif

namespace norvale {
namespace {

bool seekTo(std::FILE* file, std::int64_t offset, int origin) {
#ifdef _WIN32
    return _fseeki64(file, offset, origin) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), origin) == 0;
#endif
}

std::int64_t position(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<std::int64_t>(ftello(file));
#endif
}

class HostFile final : public File {
public:
    HostFile(std::FILE* stream, std::shared_ptr<HostFileSystem::Shared> shared,
             std::optional<std::uint64_t> reportedSize, std::string path)
        : stream_(stream),
          shared_(std::move(shared)),
          reportedSize_(reportedSize),
          path_(std::move(path)) {
        ++shared_->live;
        ++shared_->opened;
    }
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;
    ~HostFile() override {
        std::fclose(stream_);
        --shared_->live;
    }

    std::optional<std::uint64_t> size() override {
        if (reportedSize_) return reportedSize_;
        const std::int64_t here = position(stream_);
        if (here < 0 || !seekTo(stream_, 0, SEEK_END)) return fail(errno);
        const std::int64_t end = position(stream_);
        if (end < 0 || !seekTo(stream_, here, SEEK_SET)) return fail(errno);
        return static_cast<std::uint64_t>(end);
    }

    bool readExact(std::span<std::uint8_t> buffer) override {
        errno = 0;
        if (std::fread(buffer.data(), 1, buffer.size(), stream_) == buffer.size()) return true;
        lastError_ =
            std::ferror(stream_) && errno != 0 ? fileErrorFromErrno(errno) : FileError::other;
        return false;
    }

    bool readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        const std::int64_t here = position(stream_);
        if (here < 0 || !seekTo(stream_, static_cast<std::int64_t>(offset), SEEK_SET)) {
            return fail(errno), false;
        }
        const bool read = readExact(buffer);
        if (!seekTo(stream_, here, SEEK_SET)) return fail(errno), false;
        return read;
    }

    bool flush() override {
        FileError planned = FileError::none;
        {
            std::lock_guard lock(shared_->mutex);
            planned = shared_->failingFlush;
        }
        if (planned != FileError::none) {
            lastError_ = planned;
            return false;
        }
        errno = 0;
        if (std::fflush(stream_) != 0) return fail(errno), false;
        if (!shared_->toDisk.load()) return true;
#ifdef _WIN32
        if (_commit(_fileno(stream_)) != 0) return fail(errno), false;
#else
        if (::fsync(fileno(stream_)) != 0) return fail(errno), false;
#endif
        ++shared_->flushes;
        return true;
    }

    bool append(std::span<const std::uint8_t> bytes) override {
        std::size_t allowed = bytes.size();
        std::shared_ptr<const std::function<void()>> hook;
        {
            std::lock_guard lock(shared_->mutex);
            hook = shared_->beforeAppend;
            if (const auto refusing = shared_->failingAppends.find(path_);
                refusing != shared_->failingAppends.end()) {
                auto& [allowedAppends, error] = refusing->second;
                if (allowedAppends == 0) {
                    lastError_ = error;
                    return false;
                }
                --allowedAppends;
            }
            if (shared_->spaceLeft) {
                allowed =
                    static_cast<std::size_t>(std::min<std::uint64_t>(allowed, *shared_->spaceLeft));
                *shared_->spaceLeft -= allowed;
            }
        }
        if (hook) (*hook)();
        errno = 0;
        // One position serves reading and writing: where reading goes on is put back after the
        // bytes went to the end.
        const std::int64_t here = position(stream_);
        if (here < 0 || !seekTo(stream_, 0, SEEK_END) ||
            std::fwrite(bytes.data(), 1, allowed, stream_) != allowed ||
            std::fflush(stream_) != 0 || !seekTo(stream_, here, SEEK_SET)) {
            lastError_ = errno != 0 ? fileErrorFromErrno(errno) : FileError::other;
            return false;
        }
        runAppendAction();
        if (allowed < bytes.size()) {
            lastError_ = FileError::diskFull;
            return false;
        }
        return true;
    }

    FileError lastError() const override { return lastError_; }

private:
    // Outside the lock: the action may use the file system itself.
    void runAppendAction() {
        std::function<void()> action;
        {
            std::lock_guard lock(shared_->mutex);
            if (!shared_->appendAction || --shared_->appendsBeforeAction != 0) return;
            action = std::move(shared_->appendAction);
            shared_->appendAction = nullptr;
        }
        action();
    }

    std::nullopt_t fail(int error) {
        lastError_ = error != 0 ? fileErrorFromErrno(error) : FileError::other;
        return std::nullopt;
    }

    std::FILE* stream_;
    std::shared_ptr<HostFileSystem::Shared> shared_;
    std::optional<std::uint64_t> reportedSize_;
    std::string path_;
    FileError lastError_ = FileError::none;
};

// Why the last open failed. The C runtime says EACCES both for a file without permission and for
// one another program holds without sharing; on Windows the system's own code tells them apart.
FileError openError() {
#ifdef _WIN32
    constexpr unsigned long kSharingViolation = 32;
    constexpr unsigned long kLockViolation = 33;
    if (errno == EACCES && (_doserrno == kSharingViolation || _doserrno == kLockViolation)) {
        return FileError::sharingViolation;
    }
#endif
    return errno != 0 ? fileErrorFromErrno(errno) : FileError::other;
}

// Why the last rename failed. A C runtime on Windows may say EACCES for a taken name; the
// system's own code says what it was.
FileError renameError() {
#ifdef _WIN32
    constexpr unsigned long kFileExists = 80;
    constexpr unsigned long kAlreadyExists = 183;
    if (_doserrno == kFileExists || _doserrno == kAlreadyExists) return FileError::alreadyExists;
#endif
    return errno != 0 ? fileErrorFromErrno(errno) : FileError::other;
}

// One step that fails on a taken name instead of replacing what has it: plain rename() on POSIX
// replaces silently, so it is never used there.
FileError renameWithoutReplacing(const std::string& from, const std::string& to) {
    errno = 0;
#ifdef _WIN32
    // The Windows C runtime's rename() moves without MOVEFILE_REPLACE_EXISTING: a taken name is
    // refused by the system in the same step.
    if (std::rename(from.c_str(), to.c_str()) == 0) return FileError::none;
    return renameError();
#else
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return FileError::none;
    }
    // EINVAL: a file system that can't rename without replacing; the link below still can.
    if (errno != EINVAL && errno != ENOSYS) return renameError();
    errno = 0;
#endif
    // A second name for the file fails with EEXIST on a taken name, as the rename would; then
    // the old name goes. Should it not, the new one goes again, so both are as they were.
    if (::link(from.c_str(), to.c_str()) != 0) return renameError();
    if (::unlink(from.c_str()) != 0) {
        const FileError error = renameError();
        ::unlink(to.c_str());
        return error;
    }
    return FileError::none;
#endif
}

}  // namespace

FileError fileErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return FileError::notFound;
        case EEXIST: return FileError::alreadyExists;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
        case EBADF: return FileError::accessDenied;
        case ENOSPC: return FileError::diskFull;
        case EINVAL:
        case ENAMETOOLONG: return FileError::invalidName;
        default: return FileError::other;
    }
}

HostFileSystem::HostFileSystem(FileNameStyle style)
    : style_(style), shared_(std::make_shared<Shared>()) {}

std::string HostFileSystem::workingFolderName(std::string_view relative) const {
    if (style_ == FileNameStyle::posix) return std::string(relative);
    return windowsWorkingFolderName(relative);
}

std::string HostFileSystem::hostPath(const std::string& name) {
#ifdef _WIN32
    return name;
#else
    std::string path = name;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
#endif
}

bool HostFileSystem::acceptableName(const std::string& name) {
    if (name.empty()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const bool driveColon =
            c == ':' && i == 1 &&
            ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
        if (c < 0x20 || (c == ':' && !driveColon)) return false;
        if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') return false;
    }
    return true;
}

OpenedFile HostFileSystem::openForReading(const std::string& name) {
    if (!acceptableName(name)) return {nullptr, FileError::invalidName};
    const std::string path = hostPath(name);
    if (const auto error = plannedFailure(path)) return {nullptr, *error};
    // Some C runtimes open a folder for reading; Windows refuses it.
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) return {nullptr, FileError::accessDenied};
    errno = 0;
    return wrap(std::fopen(path.c_str(), "rb"), path);
}

OpenedFile HostFileSystem::createNew(const std::string& name) {
    if (!acceptableName(name)) return {nullptr, FileError::invalidName};
    const std::string path = hostPath(name);
    if (const auto error = plannedFailure(path)) return {nullptr, *error};
    // An exclusive create is the one way to never touch an existing file, even one created an
    // instant earlier by someone else.
    errno = 0;
#ifdef _WIN32
    const int fd = _sopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYRW,
                          _S_IREAD | _S_IWRITE);
    std::FILE* stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (fd >= 0 && !stream) _close(fd);
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    std::FILE* stream = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (fd >= 0 && !stream) ::close(fd);
#endif
    return wrap(stream, path);
}

OpenedFile HostFileSystem::openForAppending(const std::string& name) {
    if (!acceptableName(name)) return {nullptr, FileError::invalidName};
    const std::string path = hostPath(name);
    if (const auto error = plannedFailure(path)) return {nullptr, *error};
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) return {nullptr, FileError::accessDenied};
    const bool creates = !std::filesystem::exists(path, ignored);
    errno = 0;
    // "a+": reads anywhere, every write at the end whatever the position, nothing truncated.
#ifdef _WIN32
    std::FILE* stream = _fsopen(path.c_str(), "a+b", _SH_DENYWR);
#else
    std::FILE* stream = std::fopen(path.c_str(), "a+be");
#endif
    // A new file's name is kept by the disk from here on, as a rename's is.
    if (stream && creates) flushFolderOf(path);
    return wrap(stream, path);
}

FileError HostFileSystem::checkNameFree(const std::string& name) {
    if (!acceptableName(name)) return FileError::invalidName;
    std::error_code error;
    const auto status = std::filesystem::symlink_status(hostPath(name), error);
    if (status.type() == std::filesystem::file_type::not_found) return FileError::none;
    if (error) return FileError::other;
    return FileError::alreadyExists;
}

FileError HostFileSystem::renameNoReplace(const std::string& from, const std::string& to) {
    if (!acceptableName(from) || !acceptableName(to)) return FileError::invalidName;
    const std::string target = hostPath(to);
    {
        std::lock_guard lock(shared_->mutex);
        const auto found = shared_->failingRenames.find(target);
        if (found != shared_->failingRenames.end()) return found->second;
    }
    const FileError error = renameWithoutReplacing(hostPath(from), target);
    if (error == FileError::none) flushFolderOf(target);
    return error;
}

FileError HostFileSystem::createFolder(const std::string& name) {
    if (!acceptableName(name)) return FileError::invalidName;
    const std::string path = hostPath(name);
    if (const auto error = plannedFailure(path)) return *error;
    errno = 0;
#ifdef _WIN32
    if (::_mkdir(path.c_str()) != 0) return fileErrorFromErrno(errno);
#else
    if (::mkdir(path.c_str(), 0777) != 0) return fileErrorFromErrno(errno);
#endif
    flushFolderOf(path);
    return FileError::none;
}

// The folder's own flush is what keeps a name in it after a power cut on POSIX systems; a file
// system that can't flush a folder (it says EINVAL) keeps names at its own pace, and the call
// that made the name has still made it, so nothing is reported.
void HostFileSystem::flushFolderOf(const std::string& path) {
#ifdef _WIN32
    (void)path;
#else
    if (!shared_->toDisk.load()) return;
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) folder = std::filesystem::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    if (::fsync(fd) == 0) ++shared_->folderFlushes;
    ::close(fd);
#endif
}

OpenedFile HostFileSystem::wrap(std::FILE* stream, const std::string& path) {
    if (!stream) return {nullptr, openError()};
    std::optional<std::uint64_t> reported;
    {
        std::lock_guard lock(shared_->mutex);
        if (const auto size = shared_->sizes.find(path); size != shared_->sizes.end()) {
            reported = size->second;
        }
    }
    return {std::make_unique<HostFile>(stream, shared_, reported, path), FileError::none};
}

std::optional<FileError> HostFileSystem::plannedFailure(const std::string& path) {
    std::lock_guard lock(shared_->mutex);
    const auto found = shared_->failing.find(path);
    if (found == shared_->failing.end()) return std::nullopt;
    return found->second;
}

void HostFileSystem::failOpening(const std::string& name, FileError error) {
    std::lock_guard lock(shared_->mutex);
    shared_->failing[hostPath(name)] = error;
}

void HostFileSystem::failRenaming(const std::string& name, FileError error) {
    std::lock_guard lock(shared_->mutex);
    shared_->failingRenames[hostPath(name)] = error;
}

void HostFileSystem::afterAppend(std::uint64_t nth, std::function<void()> action) {
    std::lock_guard lock(shared_->mutex);
    shared_->appendsBeforeAction = nth;
    shared_->appendAction = nth == 0 ? nullptr : std::move(action);
}

void HostFileSystem::failFlushing(FileError error) {
    std::lock_guard lock(shared_->mutex);
    shared_->failingFlush = error;
}

void HostFileSystem::reportSize(const std::string& name, std::uint64_t size) {
    std::lock_guard lock(shared_->mutex);
    shared_->sizes[hostPath(name)] = size;
}

void HostFileSystem::failAppending(const std::string& name, std::uint64_t nth, FileError error) {
    std::lock_guard lock(shared_->mutex);
    shared_->failingAppends[hostPath(name)] = {nth - 1, error};
}

void HostFileSystem::limitSpace(std::optional<std::uint64_t> bytes) {
    std::lock_guard lock(shared_->mutex);
    shared_->spaceLeft = bytes;
}

void HostFileSystem::beforeAppend(std::function<void()> hook) {
    std::lock_guard lock(shared_->mutex);
    shared_->beforeAppend =
        hook ? std::make_shared<const std::function<void()>>(std::move(hook)) : nullptr;
}

void HostFileSystem::clearFaults() {
    std::lock_guard lock(shared_->mutex);
    shared_->beforeAppend.reset();
    shared_->failing.clear();
    shared_->failingRenames.clear();
    shared_->failingAppends.clear();
    shared_->appendAction = nullptr;
    shared_->sizes.clear();
    shared_->spaceLeft.reset();
    shared_->failingFlush = FileError::none;
}

std::size_t HostFileSystem::liveFiles() const { return shared_->live.load(); }

std::uint64_t HostFileSystem::filesOpened() const { return shared_->opened.load(); }

std::uint64_t HostFileSystem::flushes() const { return shared_->flushes.load(); }

std::uint64_t HostFileSystem::folderFlushes() const { return shared_->folderFlushes.load(); }

void HostFileSystem::flushToDisk(bool on) { shared_->toDisk.store(on); }

}  // namespace norvale
