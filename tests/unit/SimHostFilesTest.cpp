// Host files behind the seam, the scripted file chooser and the joining thread starter.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "protocol/CommandFormats.h"
#include "sim/HostFileSystem.h"
#include "sim/ScriptedFileChooser.h"
#include "sim/StdThreadStarter.h"
#include "unit/AppendingContract.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

Bytes fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void putFile(const fs::path& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

class HostFileSystemTest : public ::testing::Test {
protected:
    HostFileSystemTest() {
        dir = fs::temp_directory_path() / ("norvale-files-" + std::to_string(std::rand()));
        fs::create_directories(dir / "bin");
    }
    ~HostFileSystemTest() override { fs::remove_all(dir); }

    // The tool's own spelling: folders separated by '\'.
    std::string name(const std::string& relative) const { return dir.string() + "\\" + relative; }

    fs::path dir;
    HostFileSystem files;
};

TEST_F(HostFileSystemTest, CreateNewWritesAFreshFileAndNeverTouchesAnExistingOne) {
    {
        OpenedFile created = files.createNew(name("PDS.bin"));
        ASSERT_TRUE(created.file);
        EXPECT_EQ(files.liveFiles(), 1u);
        EXPECT_TRUE(created.file->append(Bytes{1, 2, 3}));
        EXPECT_TRUE(created.file->append(Bytes{4}));
    }
    EXPECT_EQ(files.liveFiles(), 0u);
    EXPECT_EQ(fileBytes(dir / "PDS.bin"), (Bytes{1, 2, 3, 4}));

    const OpenedFile again = files.createNew(name("PDS.bin"));
    EXPECT_EQ(again.file, nullptr);
    EXPECT_EQ(again.error, FileError::alreadyExists);
    EXPECT_EQ(fileBytes(dir / "PDS.bin"), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(files.createNew(name("bin")).error, FileError::alreadyExists);
    EXPECT_EQ(files.createNew(name("nofolder\\x.bin")).error, FileError::notFound);
#ifdef _WIN32
    // A dump being written is shared with nobody, and Windows says so.
    const OpenedFile held = files.createNew(name("held.bin"));
    ASSERT_TRUE(held.file);
    EXPECT_EQ(files.openForReading(name("held.bin")).error, FileError::sharingViolation);
#endif
}

TEST_F(HostFileSystemTest, OpenForReadingGivesSizeAndContentAndTellsFailuresApart) {
    const Bytes content{9, 8, 7, 6, 5};
    putFile(dir / "bin" / "loader.bin", content);
    OpenedFile opened = files.openForReading(name("bin\\loader.bin"));
    ASSERT_TRUE(opened.file);
    EXPECT_EQ(opened.file->size(), 5u);
    Bytes head(2);
    Bytes rest(3);
    EXPECT_TRUE(opened.file->readExact(head));
    EXPECT_EQ(opened.file->size(), 5u);  // taking the size doesn't move the read position
    EXPECT_TRUE(opened.file->readExact(rest));
    EXPECT_EQ(head, (Bytes{9, 8}));
    EXPECT_EQ(rest, (Bytes{7, 6, 5}));
    Bytes past(1);
    EXPECT_FALSE(opened.file->readExact(past));
    EXPECT_FALSE(opened.file->append(Bytes{1}));  // opened for reading only

    EXPECT_EQ(files.openForReading(name("missing.bin")).error, FileError::notFound);
    EXPECT_EQ(files.openForReading(name("bin")).error, FileError::accessDenied);
    EXPECT_EQ(files.openForReading("").error, FileError::invalidName);
    EXPECT_EQ(files.createNew("").error, FileError::invalidName);
    EXPECT_EQ(files.createNew(name("10030000:1003FFFF.bin")).error, FileError::invalidName);
    EXPECT_EQ(files.createNew(name("what?.bin")).error, FileError::invalidName);
    EXPECT_TRUE(HostFileSystem::acceptableName("C:\\images\\pds.bin"));
    EXPECT_FALSE(fs::exists(dir / "10030000:1003FFFF.bin"));
}

// A journal: opened again it keeps its lines, its last byte can be looked at, and an append goes
// to the end without moving where reading goes on.
TEST_F(HostFileSystemTest, AppendingKeepsWhatTheFileHeldAndLeavesReadingWhereItWas) {
    OpenedFile opened;
    testing::expectAppendingKeepsAndLeavesReadingWhereItWas(files, name("journal.jsonl"), opened);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(opened.file->append(Bytes{'e'}));
    opened.file.reset();
    EXPECT_EQ(fileBytes(dir / "journal.jsonl"), (Bytes{'a', 'b', '\n', 'c', 'd', 'e'}));
}

// A dump's ".part" file takes its name in one step that refuses a taken name, file or folder.
TEST_F(HostFileSystemTest, RenameNoReplaceNeverTakesANameThatIsTaken) {
    putFile(dir / "CG1.bin.part", Bytes{1, 2, 3});
    putFile(dir / "Boot.bin", Bytes{9});
    EXPECT_EQ(files.checkNameFree(name("CG1.bin")), FileError::none);
    EXPECT_EQ(files.checkNameFree(name("Boot.bin")), FileError::alreadyExists);
    EXPECT_EQ(files.checkNameFree(name("bin")), FileError::alreadyExists);
    EXPECT_EQ(files.checkNameFree(name("CG?.bin")), FileError::invalidName);

    EXPECT_EQ(files.renameNoReplace(name("CG1.bin.part"), name("Boot.bin")),
              FileError::alreadyExists);
    EXPECT_NE(files.renameNoReplace(name("CG1.bin.part"), name("bin")), FileError::none);
    EXPECT_EQ(fileBytes(dir / "Boot.bin"), Bytes{9});
    EXPECT_EQ(fileBytes(dir / "CG1.bin.part"), (Bytes{1, 2, 3}));
    EXPECT_TRUE(fs::is_directory(dir / "bin"));

    EXPECT_EQ(files.renameNoReplace(name("CG1.bin.part"), name("CG1.bin")), FileError::none);
    EXPECT_EQ(fileBytes(dir / "CG1.bin"), (Bytes{1, 2, 3}));
    EXPECT_FALSE(fs::exists(dir / "CG1.bin.part"));
    EXPECT_EQ(files.renameNoReplace(name("CG1.bin.part"), name("x.bin")), FileError::notFound);
}

// A folder is made only where nothing has its name; on POSIX systems the folder that holds a new
// name is flushed after it is made (a folder, a rename, a file created for appending), so the
// name survives a power cut. With the flushes off, as the benchmark measures them, none goes out.
TEST_F(HostFileSystemTest, NamesAreMadeAndPutOnTheDisk) {
    putFile(dir / "taken.bin", Bytes{7});
    EXPECT_EQ(files.createFolder(name("new")), FileError::none);
    EXPECT_TRUE(fs::is_directory(dir / "new"));
    EXPECT_EQ(files.createFolder(name("new")), FileError::alreadyExists);
    EXPECT_EQ(files.createFolder(name("taken.bin")), FileError::alreadyExists);
    EXPECT_EQ(fileBytes(dir / "taken.bin"), Bytes{7});
    EXPECT_EQ(files.createFolder(name("no\\such\\place")), FileError::notFound);

    OpenedFile part = files.createNew(name("new\\PDS.bin.part"));
    ASSERT_TRUE(part.file);
    ASSERT_TRUE(part.file->append(Bytes{1, 2}));
    ASSERT_TRUE(part.file->flush());
    part.file.reset();
    EXPECT_EQ(files.renameNoReplace(name("new\\PDS.bin.part"), name("new\\PDS.bin")),
              FileError::none);
    EXPECT_TRUE(files.openForAppending(name("journal.jsonl")).file);
    EXPECT_TRUE(files.openForAppending(name("journal.jsonl")).file);  // there: nothing to flush
    EXPECT_EQ(files.flushes(), 1u);
#ifdef _WIN32
    EXPECT_EQ(files.folderFlushes(), 0u);
#else
    EXPECT_EQ(files.folderFlushes(), 3u);
#endif

    files.flushToDisk(false);
    EXPECT_EQ(files.createFolder(name("other")), FileError::none);
    OpenedFile quick = files.createNew(name("other\\quick.bin"));
    ASSERT_TRUE(quick.file);
    EXPECT_TRUE(quick.file->flush());
    EXPECT_EQ(files.flushes(), 1u);
#ifndef _WIN32
    EXPECT_EQ(files.folderFlushes(), 3u);
#endif
}

TEST_F(HostFileSystemTest, FaultHooksStandInForLockedHugeAndFullFiles) {
    putFile(dir / "KESTRIN.ini", Bytes(20, 'x'));
    files.failOpening(name("KESTRIN.ini"), FileError::sharingViolation);
    files.failOpening(name("Boot.bin"), FileError::accessDenied);
    EXPECT_EQ(files.openForReading(name("KESTRIN.ini")).error, FileError::sharingViolation);
    EXPECT_EQ(files.createNew(name("Boot.bin")).error, FileError::accessDenied);
    EXPECT_FALSE(fs::exists(dir / "Boot.bin"));

    files.clearFaults();
    files.reportSize(name("KESTRIN.ini"), std::uint64_t{1} << 32);
    OpenedFile huge = files.openForReading(name("KESTRIN.ini"));
    ASSERT_TRUE(huge.file);
    EXPECT_EQ(huge.file->size(), std::uint64_t{1} << 32);

    files.limitSpace(6);
    OpenedFile dump = files.createNew(name("CG1.bin"));
    ASSERT_TRUE(dump.file);
    EXPECT_TRUE(dump.file->append(Bytes{1, 2, 3, 4}));
    EXPECT_FALSE(dump.file->append(Bytes{5, 6, 7, 8}));
    EXPECT_EQ(dump.file->lastError(), FileError::diskFull);
    dump.file.reset();
    EXPECT_EQ(fileBytes(dir / "CG1.bin"), (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(files.liveFiles(), 1u);
    EXPECT_EQ(files.filesOpened(), 2u);
}

TEST(ScriptedFileChooser, GivesItsAnswersInOrderThenCancels) {
    ScriptedFileChooser chooser;
    chooser.choose("first.bin");
    chooser.cancel();
    chooser.choose("second.bin");
    EXPECT_EQ(chooser.chooseImageFile(), "first.bin");
    EXPECT_EQ(chooser.chooseImageFile(), std::nullopt);
    EXPECT_EQ(chooser.chooseImageFile(), "second.bin");
    EXPECT_EQ(chooser.chooseImageFile(), std::nullopt);
    EXPECT_EQ(chooser.timesShown(), 4u);
}

TEST(StdThreadStarter, JoinAllWaitsForThreadsStartedMeanwhile) {
    StdThreadStarter threads;
    std::atomic<int> ran{0};
    threads.failNextStart();
    EXPECT_FALSE(threads.start([&] { ran += 100; }));
    ASSERT_TRUE(threads.start([&] {
        ++ran;
        threads.start([&] { ++ran; });
    }));
    threads.joinAll();
    EXPECT_EQ(ran.load(), 2);
    EXPECT_EQ(threads.started(), 2u);
}

// An owned thread is waited for by join() and by its owner's end, and counts as started.
TEST(StdThreadStarter, AJoinableThreadIsWaitedForByItsOwner) {
    StdThreadStarter threads;
    std::atomic<int> ran{0};
    threads.failNextStart();
    EXPECT_EQ(threads.startJoinable([&] { ran += 100; }), nullptr);
    std::unique_ptr<JoinableThread> thread = threads.startJoinable([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ++ran;
    });
    ASSERT_NE(thread, nullptr);
    thread->join();
    EXPECT_EQ(ran.load(), 1);
    thread = threads.startJoinable([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ++ran;
    });
    thread.reset();
    EXPECT_EQ(ran.load(), 2);
    EXPECT_EQ(threads.started(), 2u);
}

}  // namespace
}  // namespace norvale
