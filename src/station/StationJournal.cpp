// Appending a whole line at a time, after a look at how the file ends.
#include "station/StationJournal.h"

#include <array>
#include <cstdint>
#include <span>

namespace norvale {

StationJournal::StationJournal(FileSystem& files, std::string name)
    : files_(files), name_(std::move(name)) {}

FileError StationJournal::open() {
    std::lock_guard lock(mutex_);
    OpenedFile opened = files_.openForAppending(name_);
    file_ = std::move(opened.file);
    return file_ ? FileError::none : opened.error;
}

FileError StationJournal::append(const JournalRecord& record) {
    std::string bytes = journalLine(record);
    std::lock_guard lock(mutex_);
    if (!file_) return FileError::other;
    // Asked each time rather than remembered: an append that failed halfway, or another program,
    // may have left the end torn since.
    const auto size = file_->size();
    if (!size) return file_->lastError();
    if (*size > 0) {
        std::array<std::uint8_t, 1> last{};
        if (!file_->readAt(*size - 1, last)) return file_->lastError();
        if (last[0] != '\n') bytes.insert(bytes.begin(), '\n');
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (!file_->append(std::span(data, bytes.size()))) return file_->lastError();
    if (!file_->flush()) return file_->lastError();
    return FileError::none;
}

}  // namespace norvale
