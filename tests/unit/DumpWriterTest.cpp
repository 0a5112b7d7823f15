// The dump writer: the reader runs ahead of a stalled disk by its buffers and no further, every
// byte reaches the file in order, and a full disk stops it with the file holding what fitted.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>

#include "operations/DumpWriter.h"
#include "protocol/CommandFormats.h"
#include "sim/HostFileSystem.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
constexpr std::size_t kBufferSize = 64;

class DumpWriterTest : public ::testing::Test {
protected:
    DumpWriterTest() {
        dir = fs::temp_directory_path() / ("norvale-writer-" + std::to_string(std::rand()));
        fs::create_directories(dir);
        file = files.createNew(path()).file;
    }
    ~DumpWriterTest() override {
        file.reset();
        fs::remove_all(dir);
    }
    std::string path() const { return (dir / "dump.bin").string(); }
    // The file's bytes once closed (it is shared with nobody while open).
    Bytes closedDump() {
        file.reset();
        std::ifstream in(path(), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Fills the next buffer with `length` bytes that tell this piece from every other one, queues
    // it, and keeps the bytes in `sent`.
    bool queuePiece(DumpWriter& writer, std::size_t piece, std::size_t length) {
        const std::span<std::uint8_t> buffer = writer.buffer();
        if (buffer.empty()) return false;
        for (std::size_t i = 0; i < length; ++i) {
            buffer[i] = static_cast<std::uint8_t>(piece * 31 + i);
            sent.push_back(buffer[i]);
        }
        writer.queue(length);
        return true;
    }

    fs::path dir;
    HostFileSystem files;
    std::unique_ptr<File> file;
    Bytes sent;
};

TEST_F(DumpWriterTest, AStalledDiskLetsTheReaderQueueEveryBufferThenHoldsItAndLosesNothing) {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    bool heldTheReader = false;  // a writer on the reader's thread would wait here for nothing
    files.beforeAppend([&] {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, std::chrono::seconds(5), [&] { return released; })) {
            heldTheReader = released = true;
        }
    });
    DumpWriter writer(*file, kBufferSize);
    // The first write is stuck, yet every buffer can be filled and queued behind it; pieces of
    // differing lengths show that each is written as long as it was queued.
    for (std::size_t piece = 0; piece < DumpWriter::kBuffers; ++piece) {
        ASSERT_TRUE(queuePiece(writer, piece, kBufferSize - piece));
    }
    auto next = std::async(std::launch::async, [&] { return writer.buffer(); });
    EXPECT_EQ(next.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
        << "a buffer was given out while all of them were queued";
    {
        std::lock_guard lock(mutex);
        EXPECT_FALSE(heldTheReader);
        released = true;
    }
    changed.notify_all();
    const std::span<std::uint8_t> freed = next.get();
    ASSERT_EQ(freed.size(), kBufferSize);
    std::fill(freed.begin(), freed.end(), std::uint8_t{0xEE});
    sent.insert(sent.end(), kBufferSize, 0xEE);
    writer.queue(kBufferSize);
    for (std::size_t piece = DumpWriter::kBuffers + 1; piece < 3 * DumpWriter::kBuffers; ++piece) {
        ASSERT_TRUE(queuePiece(writer, piece, 1 + piece % kBufferSize));
    }
    EXPECT_TRUE(writer.finish());
    EXPECT_EQ(writer.written(), sent.size());
    EXPECT_EQ(closedDump(), sent);
}

TEST_F(DumpWriterTest, AFullDiskStopsTheWritesAndTheReaderWithTheFileHoldingWhatFitted) {
    files.limitSpace(1000);
    DumpWriter writer(*file, kBufferSize);
    std::size_t queued = 0;
    while (queued < 1000 && queuePiece(writer, queued, kBufferSize)) ++queued;
    EXPECT_GT(queued, 1000u / kBufferSize) << "the reader was stopped before the disk was full";
    EXPECT_LT(queued, 1000u) << "the reader was never told the disk is full";
    EXPECT_FALSE(writer.finish());
    EXPECT_TRUE(writer.buffer().empty());
    EXPECT_EQ(writer.written(), 1000u / kBufferSize * kBufferSize);  // the whole pieces
    EXPECT_EQ(closedDump(), Bytes(sent.begin(), sent.begin() + 1000));
}

}  // namespace
}  // namespace norvale
