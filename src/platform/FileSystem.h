// Seam: the files the tool reads (loader images, images, configuration) and the dumps it writes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace norvale {

enum class FileError {
    none,
    notFound,          // no such file or folder
    alreadyExists,     // createNew on an existing name
    sharingViolation,  // another program holds it open without sharing
    accessDenied,      // no permission, read-only for a write, a folder
    invalidName,       // a name the file system rejects (empty, ':' and the like)
    diskFull,
    other,
};

// An open file. Closing is the destructor's job, so a file is closed on every path.
// Contract: size() is the file's length, or nullopt when it can't be taken; readExact() reads the
// next buffer.size() bytes and fails unless it got them all; append() writes all of the bytes at
// the end and fails (with lastError() telling why) unless they were all written.
// readAt() reads buffer.size() bytes from `offset` (from the file's start) and fails unless it
// got them all; it leaves where readExact() goes on as it was. flush() returns once what was
// appended is on the disk itself, not only in the system's cache, so a power cut afterwards
// keeps it; it fails (lastError()) when the system can't say so.
class File {
public:
    virtual ~File() = default;
    virtual std::optional<std::uint64_t> size() = 0;
    virtual bool readExact(std::span<std::uint8_t> buffer) = 0;
    virtual bool readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) = 0;
    virtual bool append(std::span<const std::uint8_t> bytes) = 0;
    virtual bool flush() = 0;
    virtual FileError lastError() const = 0;
};

struct OpenedFile {
    std::unique_ptr<File> file;  // null on failure
    FileError error = FileError::none;
};

// Contract: names are relative to the working directory and may use '\' as the separator
// (".\bin\loader.bin"); openForReading() opens an existing file for reading and lets other
// programs read it meanwhile; createNew() creates a file that did not exist, for writing, shared
// with nobody, and never touches an existing file of that name. openForAppending() opens the file
// for reading and appending, creating it when nothing has that name; what it holds is never
// truncated, every append lands at its end, and other programs may read it meanwhile if they let
// it be written as they read (one that wants to write to it too may be refused:
// sharingViolation).
// checkNameFree() touches nothing and says whether a file could be created under `name`: none
// when nothing has that name, alreadyExists when a file or folder has it, else why it can't be
// told. renameNoReplace() gives the closed file `from` the name `to` in one step and never
// replaces anything: when `to` is taken, even an instant earlier by another program, it fails
// with alreadyExists; on any failure both names are as they were. createFolder() makes the folder
// `name` in a folder that exists: none when it made it, alreadyExists (nothing touched) when a
// file or folder has that name, else why not.
// Durable names: a name that renameNoReplace() gave or createFolder() made, and the name of a
// file openForAppending() created, is on the disk itself when the call returns, so a power cut
// afterwards keeps it (Windows writes the rename through; POSIX systems flush the folder that
// holds the name). What a file holds is on the disk only once flush() said so: a file renamed
// before its flush may keep its name with less than was written, or nothing.
// workingFolderName() gives a file of the working directory, named with '/' between its folders
// ("bin/loader.bin"), as this system writes such a name: the name the tool opens it by and the
// one its messages show (".\bin\loader.bin" on Windows, "bin/loader.bin" on POSIX systems).
class FileSystem {
public:
    virtual ~FileSystem() = default;
    virtual std::string workingFolderName(std::string_view relative) const = 0;
    virtual OpenedFile openForReading(const std::string& name) = 0;
    virtual OpenedFile createNew(const std::string& name) = 0;
    virtual OpenedFile openForAppending(const std::string& name) = 0;
    virtual FileError checkNameFree(const std::string& name) = 0;
    virtual FileError renameNoReplace(const std::string& from, const std::string& to) = 0;
    virtual FileError createFolder(const std::string& name) = 0;
};

// `relative` ("bin/loader.bin") as Windows programs have always named the files beside them:
// ".\bin\loader.bin". The Windows bindings give it, and so does a simulation of them.
inline std::string windowsWorkingFolderName(std::string_view relative) {
    std::string name = ".\\";
    name += relative;
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

}  // namespace norvale
