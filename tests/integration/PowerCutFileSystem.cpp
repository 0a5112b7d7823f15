// Files in memory with their written and their flushed bytes, and the disk kept at a cut.
#include "integration/PowerCutFileSystem.h"

#include <algorithm>
#include <filesystem>

namespace norvale::testing {
namespace {

// One spelling of a name whatever the separators: "a\b" and "a/b" are the same file.
std::string key(std::string_view name) {
    std::string generic(name);
    std::replace(generic.begin(), generic.end(), '\\', '/');
    while (generic.size() > 1 && generic.back() == '/') generic.pop_back();
    return generic;
}

std::string parentOf(const std::string& generic) {
    return std::filesystem::path(generic).parent_path().generic_string();
}

}  // namespace

// A handle on a node: reads where it was left, appends at the end, flushes the whole node.
class PowerCutFileSystem::MemoryFile final : public File {
public:
    MemoryFile(PowerCutFileSystem& owner, std::shared_ptr<Node> node)
        : owner_(owner), node_(std::move(node)) {}

    std::optional<std::uint64_t> size() override {
        const std::lock_guard lock(owner_.mutex_);
        return node_->written.size();
    }
    bool readExact(std::span<std::uint8_t> buffer) override {
        const std::lock_guard lock(owner_.mutex_);
        if (!copyAt(position_, buffer)) return false;
        position_ += buffer.size();
        return true;
    }
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        const std::lock_guard lock(owner_.mutex_);
        return copyAt(offset, buffer);
    }
    bool append(std::span<const std::uint8_t> bytes) override {
        const std::lock_guard lock(owner_.mutex_);
        node_->written.insert(node_->written.end(), bytes.begin(), bytes.end());
        owner_.stepLocked();
        return true;
    }
    bool flush() override {
        const std::lock_guard lock(owner_.mutex_);
        node_->flushed = node_->written;
        owner_.stepLocked();
        return true;
    }
    FileError lastError() const override { return error_; }

private:
    bool copyAt(std::uint64_t offset, std::span<std::uint8_t> buffer) {
        const Bytes& bytes = node_->written;
        if (offset > bytes.size() || bytes.size() - offset < buffer.size()) {
            error_ = FileError::other;
            return false;
        }
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), buffer.size(),
                    buffer.begin());
        return true;
    }

    PowerCutFileSystem& owner_;
    std::shared_ptr<Node> node_;
    std::uint64_t position_ = 0;
    FileError error_ = FileError::none;
};

std::uint64_t PowerCutFileSystem::steps() const {
    const std::lock_guard lock(mutex_);
    return steps_;
}

std::optional<DiskState> PowerCutFileSystem::atCut() const {
    const std::lock_guard lock(mutex_);
    return atCut_;
}

DiskState PowerCutFileSystem::onDisk() const {
    const std::lock_guard lock(mutex_);
    return onDiskLocked();
}

DiskState PowerCutFileSystem::written() const {
    const std::lock_guard lock(mutex_);
    DiskState state{{}, folders_};
    for (const auto& [name, node] : names_) state.files[name] = node->written;
    return state;
}

void PowerCutFileSystem::stepLocked() {
    ++steps_;
    if (cutStep_ && steps_ == *cutStep_) atCut_ = onDiskLocked();
}

DiskState PowerCutFileSystem::onDiskLocked() const {
    DiskState state{{}, folders_};
    for (const auto& [name, node] : names_) state.files[name] = node->flushed;
    return state;
}

bool PowerCutFileSystem::folderExistsLocked(const std::string& folder) const {
    if (folder.empty() || folder == "." || folder == "/") return true;
    return folders_.count(folder) != 0;
}

OpenedFile PowerCutFileSystem::open(const std::shared_ptr<Node>& node) {
    return {std::make_unique<MemoryFile>(*this, node), FileError::none};
}

OpenedFile PowerCutFileSystem::openForReading(const std::string& name) {
    {
        const std::lock_guard lock(mutex_);
        const auto found = names_.find(key(name));
        if (found != names_.end()) return open(found->second);
        if (folders_.count(key(name)) != 0) return {nullptr, FileError::accessDenied};
    }
    return ground_.openForReading(name);
}

OpenedFile PowerCutFileSystem::createNew(const std::string& name) {
    if (name.empty()) return {nullptr, FileError::invalidName};
    if (ground_.checkNameFree(name) != FileError::none) return {nullptr, FileError::alreadyExists};
    const std::lock_guard lock(mutex_);
    const std::string file = key(name);
    if (names_.count(file) != 0 || folders_.count(file) != 0) {
        return {nullptr, FileError::alreadyExists};
    }
    if (!folderExistsLocked(parentOf(file))) return {nullptr, FileError::notFound};
    auto node = std::make_shared<Node>();
    names_[file] = node;
    stepLocked();
    return open(node);
}

OpenedFile PowerCutFileSystem::openForAppending(const std::string& name) {
    if (name.empty()) return {nullptr, FileError::invalidName};
    const std::lock_guard lock(mutex_);
    const std::string file = key(name);
    if (const auto found = names_.find(file); found != names_.end()) return open(found->second);
    if (folders_.count(file) != 0) return {nullptr, FileError::accessDenied};
    if (!folderExistsLocked(parentOf(file))) return {nullptr, FileError::notFound};
    auto node = std::make_shared<Node>();
    names_[file] = node;
    stepLocked();
    return open(node);
}

FileError PowerCutFileSystem::checkNameFree(const std::string& name) {
    if (name.empty()) return FileError::invalidName;
    {
        const std::lock_guard lock(mutex_);
        const std::string file = key(name);
        if (names_.count(file) != 0 || folders_.count(file) != 0) return FileError::alreadyExists;
    }
    return ground_.checkNameFree(name);
}

FileError PowerCutFileSystem::renameNoReplace(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) return FileError::invalidName;
    if (ground_.checkNameFree(to) != FileError::none) return FileError::alreadyExists;
    const std::lock_guard lock(mutex_);
    const auto source = names_.find(key(from));
    if (source == names_.end()) return FileError::notFound;
    const std::string target = key(to);
    if (names_.count(target) != 0 || folders_.count(target) != 0) return FileError::alreadyExists;
    if (!folderExistsLocked(parentOf(target))) return FileError::notFound;
    names_[target] = source->second;
    names_.erase(source);
    stepLocked();
    return FileError::none;
}

FileError PowerCutFileSystem::createFolder(const std::string& name) {
    if (name.empty()) return FileError::invalidName;
    const std::string folder = key(name);
    if (folder.empty() || folder == "." || folder == "/") return FileError::alreadyExists;
    const std::lock_guard lock(mutex_);
    if (names_.count(folder) != 0 || folders_.count(folder) != 0) return FileError::alreadyExists;
    if (!folderExistsLocked(parentOf(folder))) return FileError::notFound;
    folders_.insert(folder);
    stepLocked();
    return FileError::none;
}

}  // namespace norvale::testing
