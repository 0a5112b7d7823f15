// Files opened with CreateFileW, each owned by a File that closes it on every path.
#include "platform/win32/Win32FileSystem.h"

#include <algorithm>
#include <limits>

#include "platform/win32/WideName.h"
#include "platform/win32/Win32Handles.h"

namespace norvale {

FileError fileErrorFromWin32(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS: return FileError::none;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return FileError::notFound;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return FileError::alreadyExists;
        case ERROR_SHARING_VIOLATION: return FileError::sharingViolation;
        case ERROR_ACCESS_DENIED: return FileError::accessDenied;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_DIRECTORY: return FileError::invalidName;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return FileError::diskFull;
        default: return FileError::other;
    }
}

namespace {

// ReadFile and WriteFile move at most a DWORD's worth per call.
constexpr std::size_t kMaxTransfer = std::numeric_limits<DWORD>::max();

class Win32File final : public File {
public:
    explicit Win32File(UniqueFile handle) : handle_(std::move(handle)) {}

    std::optional<std::uint64_t> size() override {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(handle_.get(), &size)) return fail(), std::nullopt;
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    bool readExact(std::span<std::uint8_t> buffer) override {
        while (!buffer.empty()) {
            const DWORD want = static_cast<DWORD>(std::min(buffer.size(), kMaxTransfer));
            DWORD got = 0;
            if (!::ReadFile(handle_.get(), buffer.data(), want, &got, nullptr)) return fail();
            // A successful read of nothing is the end of the file: the bytes aren't there.
            if (got == 0) {
                error_ = FileError::other;
                return false;
            }
            buffer = buffer.subspan(got);
        }
        return true;
    }

    bool readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        LARGE_INTEGER here{};
        if (!::SetFilePointerEx(handle_.get(), LARGE_INTEGER{}, &here, FILE_CURRENT)) return fail();
        LARGE_INTEGER there{};
        there.QuadPart = static_cast<LONGLONG>(offset);
        if (!::SetFilePointerEx(handle_.get(), there, nullptr, FILE_BEGIN)) return fail();
        const bool read = readExact(buffer);
        if (!::SetFilePointerEx(handle_.get(), here, nullptr, FILE_BEGIN)) return fail();
        return read;
    }

    bool flush() override { return ::FlushFileBuffers(handle_.get()) ? true : fail(); }

    bool append(std::span<const std::uint8_t> bytes) override {
        // One file pointer serves reading and writing: where reading goes on is put back after
        // the bytes went to the end.
        LARGE_INTEGER here{};
        if (!::SetFilePointerEx(handle_.get(), LARGE_INTEGER{}, &here, FILE_CURRENT)) return fail();
        if (!::SetFilePointerEx(handle_.get(), LARGE_INTEGER{}, nullptr, FILE_END)) return fail();
        const bool written = writeAll(bytes);
        if (!::SetFilePointerEx(handle_.get(), here, nullptr, FILE_BEGIN)) return fail();
        return written;
    }

    FileError lastError() const override { return error_; }

private:
    bool writeAll(std::span<const std::uint8_t> bytes) {
        while (!bytes.empty()) {
            const DWORD want = static_cast<DWORD>(std::min(bytes.size(), kMaxTransfer));
            DWORD put = 0;
            if (!::WriteFile(handle_.get(), bytes.data(), want, &put, nullptr)) return fail();
            if (put == 0) {
                error_ = FileError::other;
                return false;
            }
            bytes = bytes.subspan(put);
        }
        return true;
    }

    bool fail() {
        error_ = fileErrorFromWin32(::GetLastError());
        return false;
    }

    UniqueFile handle_;
    FileError error_ = FileError::none;
};

OpenedFile opened(UniqueFile handle) {
    if (!handle) return {nullptr, fileErrorFromWin32(::GetLastError())};
    return {std::make_unique<Win32File>(std::move(handle)), FileError::none};
}

}  // namespace

std::optional<std::wstring> Win32FileSystem::wide(const std::string& name) const {
    // An empty name would otherwise surface as whatever the system makes of it.
    if (name.empty()) return std::nullopt;
    return wideName(name, codePage_);
}

OpenedFile Win32FileSystem::openForReading(const std::string& name) {
    const auto path = wide(name);
    if (!path) return {nullptr, FileError::invalidName};
    return opened(UniqueFile{::CreateFileW(path->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)});
}

OpenedFile Win32FileSystem::createNew(const std::string& name) {
    const auto path = wide(name);
    if (!path) return {nullptr, FileError::invalidName};
    // CREATE_NEW fails on an existing name instead of truncating it: a dump never overwrites.
    return opened(UniqueFile{::CreateFileW(path->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)});
}

OpenedFile Win32FileSystem::openForAppending(const std::string& name) {
    const auto path = wide(name);
    if (!path) return {nullptr, FileError::invalidName};
    // OPEN_ALWAYS keeps what the file holds; append() goes to its end. Readers may share it, a
    // second writer may not: two programs' lines never mix.
    return opened(
        UniqueFile{::CreateFileW(path->c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)});
}

FileError Win32FileSystem::checkNameFree(const std::string& name) {
    const auto path = wide(name);
    if (!path) return FileError::invalidName;
    if (::GetFileAttributesW(path->c_str()) != INVALID_FILE_ATTRIBUTES) {
        return FileError::alreadyExists;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? FileError::none : fileErrorFromWin32(error);
}

std::string Win32FileSystem::workingFolderName(std::string_view relative) const {
    return windowsWorkingFolderName(relative);
}

FileError Win32FileSystem::renameNoReplace(const std::string& from, const std::string& to) {
    const auto source = wide(from);
    const auto target = wide(to);
    if (!source || !target) return FileError::invalidName;
    // Without MOVEFILE_REPLACE_EXISTING the system refuses a taken name in the same step as the
    // rename, so no file that appeared meanwhile is lost; write-through returns only once the
    // new name is on the disk, so a rename reported as done is not undone by a power cut.
    if (::MoveFileExW(source->c_str(), target->c_str(), MOVEFILE_WRITE_THROUGH)) {
        return FileError::none;
    }
    return fileErrorFromWin32(::GetLastError());
}

FileError Win32FileSystem::createFolder(const std::string& name) {
    const auto path = wide(name);
    if (!path) return FileError::invalidName;
    // The folder's entry goes to the disk with the file system's log, which the write-through
    // rename of the first file named in it flushes.
    if (::CreateDirectoryW(path->c_str(), nullptr)) return FileError::none;
    return fileErrorFromWin32(::GetLastError());
}

}  // namespace norvale
