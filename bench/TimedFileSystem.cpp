// Time spent in the file layer, summed over calls and over the files it opened.
#include "TimedFileSystem.h"

#include <utility>

namespace norvale::bench {
namespace {

using Clock = std::chrono::steady_clock;

// Adds the wall time of its own lifetime to a total.
class Span {
public:
    explicit Span(Clock::duration& total) : total_(total), started_(Clock::now()) {}
    ~Span() { total_ += Clock::now() - started_; }
    Span(const Span&) = delete;
    Span& operator=(const Span&) = delete;

private:
    Clock::duration& total_;
    Clock::time_point started_;
};

class TimedFile final : public File {
public:
    TimedFile(std::unique_ptr<File> inner, std::shared_ptr<Clock::duration> total)
        : inner_(std::move(inner)), total_(std::move(total)) {}
    ~TimedFile() override {
        const Span span(*total_);
        inner_.reset();  // the close is the file layer's time too
    }
    TimedFile(const TimedFile&) = delete;
    TimedFile& operator=(const TimedFile&) = delete;

    std::optional<std::uint64_t> size() override {
        const Span span(*total_);
        return inner_->size();
    }
    bool readExact(std::span<std::uint8_t> buffer) override {
        const Span span(*total_);
        return inner_->readExact(buffer);
    }
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        const Span span(*total_);
        return inner_->readAt(offset, buffer);
    }
    bool append(std::span<const std::uint8_t> bytes) override {
        const Span span(*total_);
        return inner_->append(bytes);
    }
    bool flush() override {
        const Span span(*total_);
        return inner_->flush();
    }
    FileError lastError() const override { return inner_->lastError(); }

private:
    std::unique_ptr<File> inner_;
    std::shared_ptr<Clock::duration> total_;
};

}  // namespace

OpenedFile TimedFileSystem::timed(OpenedFile (FileSystem::*open)(const std::string&),
                                  const std::string& name) {
    OpenedFile opened;
    {
        const Span span(*inside_);
        opened = (inner_.*open)(name);
    }
    if (opened.file) opened.file = std::make_unique<TimedFile>(std::move(opened.file), inside_);
    return opened;
}

OpenedFile TimedFileSystem::openForReading(const std::string& name) {
    return timed(&FileSystem::openForReading, name);
}

OpenedFile TimedFileSystem::createNew(const std::string& name) {
    return timed(&FileSystem::createNew, name);
}

OpenedFile TimedFileSystem::openForAppending(const std::string& name) {
    return timed(&FileSystem::openForAppending, name);
}

FileError TimedFileSystem::checkNameFree(const std::string& name) {
    const Span span(*inside_);
    return inner_.checkNameFree(name);
}

FileError TimedFileSystem::renameNoReplace(const std::string& from, const std::string& to) {
    const Span span(*inside_);
    return inner_.renameNoReplace(from, to);
}

FileError TimedFileSystem::createFolder(const std::string& name) {
    const Span span(*inside_);
    return inner_.createFolder(name);
}

}  // namespace norvale::bench
