// A dump's bytes written to its file on a thread of its own, off the path of the transfers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"

namespace norvale {

// The reader fills a buffer, queues it and goes on to the next transfer while a thread of the
// writer's own appends the queued buffers to the file, in the order they were queued. A slow
// write then costs the transfers nothing until every buffer is queued; only then does the reader
// wait for one to come free. Memory is the fixed set of buffers, whatever the dump's size.
//
// Contract:
// - buffer() gives a free buffer of the writer's buffer size to fill, waiting while all are
//   queued; it gives an empty span once a write has failed: nothing more will be written.
// - queue() hands the first `length` bytes of the buffer given last to the disk, behind every
//   buffer queued before; no queued byte is dropped or reordered unless a write fails, and after
//   a failed write nothing more is written (the file ends where that write left it).
// - finish() waits until every queued buffer is written or a write has failed, ends the thread
//   and says whether all were written. The destructor finishes too, so the file is never closed
//   under the writer. After finish() the file is the caller's alone again.
// - One thread (the reader) calls buffer(), queue() and finish().
class DumpWriter {
public:
    // Enough to ride out some 50 ms of a stalled disk at full speed's 1.2 MB/s.
    static constexpr std::size_t kBuffers = 16;

    DumpWriter(File& file, std::size_t bufferSize);
    ~DumpWriter();
    DumpWriter(const DumpWriter&) = delete;
    DumpWriter& operator=(const DumpWriter&) = delete;

    std::span<std::uint8_t> buffer();
    void queue(std::size_t length);
    bool finish();
    // The bytes of the buffers appended whole to the file so far, at any time; a write that
    // failed is not counted.
    std::uint64_t written() const { return written_.load(std::memory_order_acquire); }

private:
    struct Queued {
        std::size_t index;
        std::size_t length;
    };
    std::span<std::uint8_t> slot(std::size_t index) {
        return std::span(storage_).subspan(index * bufferSize_, bufferSize_);
    }
    void write(const Queued& queued);
    void run();

    File& file_;
    std::size_t bufferSize_;
    std::vector<std::uint8_t> storage_;
    std::mutex mutex_;
    std::condition_variable queuedOne_;  // the writer waits on it while there is nothing to write
    std::condition_variable freedOne_;   // the reader waits on it while no buffer is free
    std::vector<std::size_t> free_;      // buffers the reader may fill
    std::vector<Queued> queued_;         // a ring of kBuffers, oldest at queuedFirst_
    std::size_t queuedFirst_ = 0;
    std::size_t queuedCount_ = 0;
    std::size_t filling_ = 0;  // the buffer buffer() gave last
    bool writerIdle_ = false;
    bool readerWaiting_ = false;
    bool closing_ = false;
    bool failed_ = false;
    bool finished_ = false;
    std::atomic<std::uint64_t> written_{0};  // moved on by whichever thread writes
    std::thread thread_;  // not joinable when no thread could be made: queue() writes at once
};

}  // namespace norvale
