// Trace lines to memory and to an append-only file.
#include "SimTrace.h"

namespace norvale {

SimTrace::~SimTrace() {
    if (file_) std::fclose(file_);
}

bool SimTrace::appendToFile(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (file_) std::fclose(file_);
    file_ = std::fopen(path.c_str(), "ab");
    return file_ != nullptr;
}

void SimTrace::keepInMemory(bool keep) {
    std::lock_guard lock(mutex_);
    keep_ = keep;
    if (!keep) lines_ = {};
}

bool SimTrace::active() const {
    std::lock_guard lock(mutex_);
    return keep_ || file_ != nullptr;
}

void SimTrace::add(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (keep_) lines_.push_back(line);
    if (file_) {
        std::fputs(line.c_str(), file_);
        std::fputc('\n', file_);
        std::fflush(file_);
    }
}

std::vector<std::string> SimTrace::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void SimTrace::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

std::string SimTrace::hex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

}  // namespace norvale
