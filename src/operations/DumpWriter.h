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
// wait for one to come free. Memory is the fixed ring of buffers, whatever the dump's size.
//
// Contract:
// - buffer() gives a free buffer of the writer's buffer size to fill, waiting while all are
//   queued; it gives an empty span once a write has failed: nothing more will be written.
// - queue() hands the first `length` bytes of the buffer given last to the disk, behind every
//   buffer queued before; no queued byte is dropped or reordered unless a write fails, and after
//   a failed write nothing more is written (the file ends where that write left it).
// - written() is, at any time, the bytes of the queued buffers that are wholly in the file.
// - finish() waits until every queued buffer is written or a write has failed, ends the thread
//   and says whether all were written. The destructor finishes too, so the file is never closed
//   under the writer. After finish() the file is the caller's alone again.
// - One thread (the reader) calls buffer(), queue() and finish().
class DumpWriter {
public:
    // 128 KB of 4 KB replies: enough to ride out some 100 ms of a stalled disk at full speed's
    // 1.2 MB/s, and half of it makes one write of 64 KB.
    static constexpr std::size_t kBuffers = 32;
    // The writer is woken once this many buffers wait for it (or the reader needs one, or the
    // dump ends), and a waiting reader once this many are free again: while one half of the ring
    // fills, the other goes to the disk, with one wake-up and one append for several replies.
    static constexpr std::size_t kBatch = kBuffers / 2;

    DumpWriter(File& file, std::size_t bufferSize);
    ~DumpWriter();
    DumpWriter(const DumpWriter&) = delete;
    DumpWriter& operator=(const DumpWriter&) = delete;

    std::span<std::uint8_t> buffer();
    void queue(std::size_t length);
    bool finish();
    std::uint64_t written() const { return written_.load(std::memory_order_acquire); }

private:
    std::size_t freeBuffers() const { return kBuffers - queued_ - writing_; }
    // Appends the `count` buffers from `first` (adjacent in the ring) as one write, and tells
    // written() what reached the file.
    bool write(std::size_t first, std::size_t count);
    void run();

    File& file_;
    std::size_t bufferSize_;
    std::vector<std::uint8_t> storage_;  // the ring: kBuffers buffers, one after another
    std::vector<std::size_t> lengths_;   // what each queued buffer holds
    std::mutex mutex_;
    std::condition_variable queuedSome_;  // the writer waits on it while there is nothing to write
    std::condition_variable freedSome_;   // the reader waits on it while no buffer is free
    std::size_t next_ = 0;                // the buffer buffer() gives next
    std::size_t oldest_ = 0;              // the first buffer not yet written
    std::size_t queued_ = 0;              // buffers queued and not yet taken by the writer
    std::size_t writing_ = 0;             // buffers the writer is appending now
    bool writerIdle_ = false;
    bool readerWaiting_ = false;
    bool closing_ = false;
    bool failed_ = false;
    bool finished_ = false;
    std::atomic<std::uint64_t> written_{0};
    std::thread thread_;  // not joinable when no thread could be made: queue() writes at once
};

}  // namespace norvale
