// The dump writer's thread and the hand-over of buffers between it and the reader.
#include "operations/DumpWriter.h"

#include <system_error>

namespace norvale {

DumpWriter::DumpWriter(File& file, std::size_t bufferSize)
    : file_(file),
      bufferSize_(bufferSize),
      storage_(kBuffers * bufferSize),
      queued_(kBuffers, Queued{0, 0}) {
    free_.reserve(kBuffers);
    for (std::size_t i = kBuffers; i > 0; --i) free_.push_back(i - 1);
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to be had: the dump is still written, on the reader's thread.
    }
}

DumpWriter::~DumpWriter() { finish(); }

std::span<std::uint8_t> DumpWriter::buffer() {
    std::unique_lock lock(mutex_);
    while (free_.empty() && !failed_) {
        readerWaiting_ = true;
        freedOne_.wait(lock);
        readerWaiting_ = false;
    }
    if (failed_) return {};
    filling_ = free_.back();
    free_.pop_back();
    return slot(filling_);
}

void DumpWriter::queue(std::size_t length) {
    const Queued queued{filling_, length < bufferSize_ ? length : bufferSize_};
    if (!thread_.joinable()) {
        write(queued);
        std::lock_guard lock(mutex_);
        free_.push_back(queued.index);
        return;
    }
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        queued_[(queuedFirst_ + queuedCount_) % kBuffers] = queued;
        ++queuedCount_;
        // A writer that is busy finds the buffer when it looks again: waking it costs a system
        // call on the transfer path for nothing.
        wake = writerIdle_;
    }
    if (wake) queuedOne_.notify_one();
}

bool DumpWriter::finish() {
    if (!finished_) {
        finished_ = true;
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        queuedOne_.notify_one();
        if (thread_.joinable()) thread_.join();
    }
    std::lock_guard lock(mutex_);
    return !failed_;
}

void DumpWriter::write(const Queued& queued) {
    {
        std::lock_guard lock(mutex_);
        if (failed_) return;
    }
    // The file is the writer's alone while it runs; a failed append leaves in it what the file
    // layer managed to write.
    if (file_.append(slot(queued.index).first(queued.length))) {
        written_.fetch_add(queued.length, std::memory_order_release);
    } else {
        std::lock_guard lock(mutex_);
        failed_ = true;
    }
}

void DumpWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        while (queuedCount_ == 0 && !closing_) {
            writerIdle_ = true;
            queuedOne_.wait(lock);
            writerIdle_ = false;
        }
        if (queuedCount_ == 0) return;
        const Queued queued = queued_[queuedFirst_];
        queuedFirst_ = (queuedFirst_ + 1) % kBuffers;
        --queuedCount_;
        lock.unlock();
        write(queued);
        lock.lock();
        free_.push_back(queued.index);
        if (readerWaiting_ || failed_) freedOne_.notify_one();
    }
}

}  // namespace norvale
