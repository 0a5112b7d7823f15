// The dump writer's thread and the hand-over of buffers between it and the reader.
#include "operations/DumpWriter.h"

#include <system_error>

namespace norvale {

DumpWriter::DumpWriter(File& file, std::size_t bufferSize)
    : file_(file), bufferSize_(bufferSize), storage_(kBuffers * bufferSize), lengths_(kBuffers, 0) {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to be had: the dump is still written, on the reader's thread.
    }
}

DumpWriter::~DumpWriter() { finish(); }

std::span<std::uint8_t> DumpWriter::buffer() {
    std::unique_lock lock(mutex_);
    while (freeBuffers() == 0 && !failed_) {
        if (writerIdle_) {  // every buffer waits for it
            writerIdle_ = false;
            queuedSome_.notify_one();
        }
        readerWaiting_ = true;
        freedSome_.wait(lock);
    }
    readerWaiting_ = false;
    if (failed_) return {};
    return std::span(storage_).subspan(next_ * bufferSize_, bufferSize_);
}

void DumpWriter::queue(std::size_t length) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        lengths_[next_] = length < bufferSize_ ? length : bufferSize_;
        next_ = (next_ + 1) % kBuffers;
        ++queued_;
        if (!thread_.joinable()) {
            --queued_;
            if (!failed_ && !write(oldest_, 1)) failed_ = true;
            oldest_ = next_;
            return;
        }
        // A writer that is busy finds the buffer when it looks again, and an idle one is left to
        // sleep until a batch waits: each wake-up is a system call on the transfer path. It is
        // woken once: it counts as busy from the moment it is.
        wake = writerIdle_ && queued_ >= kBatch;
        if (wake) writerIdle_ = false;
    }
    if (wake) queuedSome_.notify_one();
}

bool DumpWriter::finish() {
    if (!finished_) {
        finished_ = true;
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        queuedSome_.notify_one();
        if (thread_.joinable()) thread_.join();
    }
    std::lock_guard lock(mutex_);
    return !failed_;
}

bool DumpWriter::write(std::size_t first, std::size_t count) {
    std::size_t bytes = 0;
    for (std::size_t i = first; i < first + count; ++i) bytes += lengths_[i];
    const std::uint64_t before = written();
    // The file is the writer's alone while it runs.
    if (file_.append(std::span(storage_).subspan(first * bufferSize_, bytes))) {
        written_.store(before + bytes, std::memory_order_release);
        return true;
    }
    // The write failed part way, perhaps: what the file holds counts, by whole buffers.
    const std::uint64_t onDisk = file_.size().value_or(before);
    std::uint64_t whole = before;
    for (std::size_t i = first; i < first + count && whole + lengths_[i] <= onDisk; ++i) {
        whole += lengths_[i];
    }
    written_.store(whole, std::memory_order_release);
    return false;
}

void DumpWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        while (queued_ == 0 && !closing_) {
            writerIdle_ = true;
            queuedSome_.wait(lock);
        }
        writerIdle_ = false;
        if (queued_ == 0) return;
        // The queued buffers up to the ring's end make one write, as long as each but the last
        // is full: only then do their bytes lie one after another.
        const std::size_t first = oldest_;
        std::size_t count = 1;
        while (count < queued_ && first + count < kBuffers &&
               lengths_[first + count - 1] == bufferSize_) {
            ++count;
        }
        queued_ -= count;
        writing_ = count;
        // After a failed write the rest is dropped: the file must not go on past a hole.
        if (!failed_) {
            lock.unlock();
            const bool written = write(first, count);
            lock.lock();
            if (!written) failed_ = true;
        }
        oldest_ = (first + count) % kBuffers;
        writing_ = 0;
        if (readerWaiting_ && (freeBuffers() >= kBatch || queued_ == 0 || failed_)) {
            readerWaiting_ = false;
            freedSome_.notify_one();
        }
    }
}

}  // namespace norvale
