// The CreateFileA file binding on Wine's file system, in a folder of the test's own.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/win32/Win32FileSystem.h"
#include "protocol/CommandFormats.h"
#include "unit/AppendingContract.h"

namespace norvale {
namespace {

class Win32FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH] = {};
        ASSERT_NE(::GetTempPathA(MAX_PATH, temp), 0u);
        folder_ = std::string(temp) + "norvale-fs-" + std::to_string(::GetCurrentProcessId()) +
                  "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(::CreateDirectoryA(folder_.c_str(), nullptr));
    }
    void TearDown() override {
        for (const std::string& file : made_) ::DeleteFileA(file.c_str());
        ::RemoveDirectoryA((folder_ + "\\sub").c_str());
        ::RemoveDirectoryA(folder_.c_str());
    }

    std::string path(const std::string& name) {
        made_.push_back(folder_ + "\\" + name);
        return made_.back();
    }

    void writeFile(const std::string& name, const Bytes& bytes) {
        OpenedFile created = files_.createNew(name);
        ASSERT_TRUE(created.file);
        ASSERT_TRUE(created.file->append(bytes));
    }

    Bytes readWhole(const std::string& name) {
        OpenedFile opened = files_.openForReading(name);
        if (!opened.file) return {};
        Bytes bytes(static_cast<std::size_t>(opened.file->size().value_or(0)));
        if (!opened.file->readExact(bytes)) return {};
        return bytes;
    }

    Win32FileSystem files_;
    std::string folder_;
    std::vector<std::string> made_;
};

TEST_F(Win32FileSystemTest, CreatesNewFilesAndNeverOverwritesOne) {
    const std::string dump = path("PDS.bin");
    {
        OpenedFile created = files_.createNew(dump);
        ASSERT_TRUE(created.file);
        ASSERT_TRUE(created.file->append(Bytes{0x01}));
        ASSERT_TRUE(created.file->append(Bytes{0x02, 0x03}));
    }
    EXPECT_EQ(readWhole(dump), (Bytes{0x01, 0x02, 0x03}));

    const OpenedFile refused = files_.createNew(dump);
    EXPECT_FALSE(refused.file);
    EXPECT_EQ(refused.error, FileError::alreadyExists);
    EXPECT_EQ(readWhole(dump), (Bytes{0x01, 0x02, 0x03}));
}

// A journal: opened again it keeps its lines, its last byte can be looked at, and an append goes
// to the end without moving where reading goes on.
TEST_F(Win32FileSystemTest, AppendingKeepsWhatTheFileHeldAndReadsAnywhereInIt) {
    const std::string journal = path("journal.jsonl");
    OpenedFile opened;
    testing::expectAppendingKeepsAndLeavesReadingWhereItWas(files_, journal, opened);
    if (HasFatalFailure()) return;
    // A reader that lets it be written (as a log viewer does) may look meanwhile; a second
    // writer may not mix its lines in.
    const HANDLE reader =
        ::CreateFileA(journal.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    char text[8] = {};
    DWORD got = 0;
    EXPECT_TRUE(::ReadFile(reader, text, sizeof text, &got, nullptr));
    ::CloseHandle(reader);
    EXPECT_EQ(std::string(text, got), "ab\ncd");
    EXPECT_EQ(files_.openForAppending(journal).error, FileError::sharingViolation);
}

// A dump's ".part" file takes its name, but never one that a file or folder has, whatever case.
TEST_F(Win32FileSystemTest, RenameNoReplaceRefusesATakenName) {
    const std::string part = path("PDS.bin.part");
    const std::string dump = path("PDS.bin");
    writeFile(part, {1, 2, 3});
    writeFile(dump, {9});
    EXPECT_EQ(files_.checkNameFree(dump), FileError::alreadyExists);
    EXPECT_EQ(files_.renameNoReplace(part, dump), FileError::alreadyExists);
    EXPECT_EQ(files_.renameNoReplace(part, folder_ + "\\pds.BIN"), FileError::alreadyExists);
    ASSERT_TRUE(::CreateDirectoryA((folder_ + "\\sub").c_str(), nullptr));
    EXPECT_EQ(files_.checkNameFree(folder_ + "\\sub"), FileError::alreadyExists);
    EXPECT_NE(files_.renameNoReplace(part, folder_ + "\\sub"), FileError::none);
    EXPECT_EQ(readWhole(dump), (Bytes{9}));
    EXPECT_EQ(readWhole(part), (Bytes{1, 2, 3}));

    ASSERT_TRUE(::DeleteFileA(dump.c_str()));
    EXPECT_EQ(files_.checkNameFree(dump), FileError::none);
    EXPECT_EQ(files_.renameNoReplace(part, dump), FileError::none);
    EXPECT_EQ(readWhole(dump), (Bytes{1, 2, 3}));
    EXPECT_EQ(files_.checkNameFree(part), FileError::none);
    EXPECT_EQ(files_.renameNoReplace(part, path("x.bin")), FileError::notFound);
}

TEST_F(Win32FileSystemTest, ReadsExactlyWhatWasAskedAndFailsPastTheEnd) {
    const std::string image = path("loader.bin");
    writeFile(image, {'L', 'T', 'E', '2', 0x00, 0xFF});

    OpenedFile opened = files_.openForReading(image);
    ASSERT_TRUE(opened.file);
    EXPECT_EQ(opened.error, FileError::none);
    EXPECT_EQ(opened.file->size(), 6u);
    Bytes head(4);
    ASSERT_TRUE(opened.file->readExact(head));
    EXPECT_EQ(head, (Bytes{'L', 'T', 'E', '2'}));
    Bytes rest(3);  // only two bytes are left
    EXPECT_FALSE(opened.file->readExact(rest));
    // A file opened for reading takes no writes.
    EXPECT_FALSE(opened.file->append(Bytes{0x01}));
    EXPECT_EQ(opened.file->lastError(), FileError::accessDenied);
}

TEST_F(Win32FileSystemTest, SharesReadingWithReadersButNotWithAWriterThatSharesNothing) {
    const std::string config = path("KESTRIN.ini");
    writeFile(config, {'[', 'C', 'G', '1', ']'});

    HANDLE reader = ::CreateFileA(config.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(files_.openForReading(config).file);
    ::CloseHandle(reader);

    HANDLE exclusive = ::CreateFileA(config.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    const OpenedFile held = files_.openForReading(config);
    EXPECT_FALSE(held.file);
    EXPECT_EQ(held.error, FileError::sharingViolation);
    ::CloseHandle(exclusive);

    // A dump being written shares with nobody either.
    const std::string dump = path("CG1.bin");
    OpenedFile writing = files_.createNew(dump);
    ASSERT_TRUE(writing.file);
    EXPECT_EQ(files_.openForReading(dump).error, FileError::sharingViolation);
}

TEST_F(Win32FileSystemTest, ReportsWhyANameCantBeOpened) {
    EXPECT_EQ(files_.openForReading("").error, FileError::invalidName);
    EXPECT_EQ(files_.createNew("").error, FileError::invalidName);
    EXPECT_EQ(files_.createNew(folder_ + "\\CG?.bin").error, FileError::invalidName);
    EXPECT_EQ(files_.openForReading(folder_ + "\\<ram>.bin").error, FileError::invalidName);
    // Names are UTF-8: bytes that are none are refused, never opened as a look-alike.
    EXPECT_EQ(files_.openForReading(folder_ + "\\r\xE4m.bin").error, FileError::invalidName);
    EXPECT_EQ(files_.openForReading(folder_ + "\\ram.bin").error, FileError::notFound);
    EXPECT_EQ(files_.openForReading(folder_ + "\\bin\\ram.bin").error, FileError::notFound);
    EXPECT_EQ(files_.createNew(folder_ + "\\bin\\1001FFFF.bin").error, FileError::notFound);

    ASSERT_TRUE(::CreateDirectoryA((folder_ + "\\sub").c_str(), nullptr));
    const OpenedFile folder = files_.openForReading(folder_ + "\\sub");
    EXPECT_FALSE(folder.file);
    EXPECT_EQ(folder.error, FileError::accessDenied);
    EXPECT_EQ(files_.createNew(folder_ + "\\sub").error, FileError::alreadyExists);
}

}  // namespace
}  // namespace norvale
