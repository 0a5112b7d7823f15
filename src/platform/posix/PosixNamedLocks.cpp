// flock()ed files, one descriptor per hold.
#include "platform/posix/PosixNamedLocks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace norvale {
namespace {

class FileLock final : public HeldLock {
public:
    explicit FileLock(int descriptor) : descriptor_(descriptor) {}
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock() override { ::close(descriptor_); }

private:
    int descriptor_;
};

}  // namespace

std::string PosixNamedLocks::userRuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/norvale";
    return "/tmp/norvale-" + std::to_string(::getuid());
}

bool PosixNamedLocks::folderReady() const {
    if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) return false;
    // Another user's folder (made first in /tmp) or a link planted there is not taken.
    struct stat status {};
    return ::lstat(folder_.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::getuid();
}

LockAttempt PosixNamedLocks::tryHold(const std::string& name) {
    if (!folderReady()) return {};
    const std::string path = folder_ + "/" + name + ".lock";
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) return {};
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(descriptor);
        return {nullptr, held};
    }
    return {std::make_unique<FileLock>(descriptor), false};
}

}  // namespace norvale
