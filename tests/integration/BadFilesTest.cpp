// Files that must not be trusted: 4 GB and larger, names the file system refuses, files another
// program holds. Each is refused with its reason, and nothing is sent or allocated for it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <limits>

#include "OperationsRig.h"
#include "operations/DumpFileName.h"
#include "operations/FlashRangeReader.h"
#include "operations/RegionWriter.h"
#include "presence/PhoneInfo.h"
#include "protocol/LoaderBootstrap.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define NORVALE_ALLOCATION_HOOK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define NORVALE_ALLOCATION_HOOK 1
#endif
#endif

#ifdef NORVALE_ALLOCATION_HOOK
// The sanitizers' runtime calls these on every allocation and release of the process.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*,
                                                                            std::size_t),
                                                         void (*freeHook)(const volatile void*));
#endif

namespace norvale {
namespace {

using namespace norvale::testing;

// The largest single allocation the process made while watched. Only with a sanitizer runtime
// to report allocations; elsewhere the refusal is still checked, the allocation is not.
class LargestAllocation {
public:
    static bool available() {
#ifdef NORVALE_ALLOCATION_HOOK
        static const bool installed =
            __sanitizer_install_malloc_and_free_hooks(
                [](const volatile void*, std::size_t size) {
                    if (!watching_.load()) return;
                    std::size_t seen = largest_.load();
                    while (size > seen && !largest_.compare_exchange_weak(seen, size)) {
                    }
                },
                [](const volatile void*) {}) != 0;
        return installed;
#else
        return false;
#endif
    }
    LargestAllocation() {
        largest_ = 0;
        watching_ = available();
    }
    ~LargestAllocation() { watching_ = false; }
    std::size_t bytes() const { return largest_.load(); }

private:
    static inline std::atomic<bool> watching_{false};
    static inline std::atomic<std::size_t> largest_{0};
};

// Nothing of a refused file is ever held: the largest block a command needs is a trace line.
constexpr std::size_t kMuchLessThanTheFile = 64u << 20;

// The worker frame on this thread, with the log lines it wrote and the transfers it made.
struct Command {
    std::vector<std::string> log;
    std::vector<std::string> trace;
};
Command runCommand(OperationsRig& rig, const CommandBody& body) {
    rig.sim.driver.clearTrace();
    rig.log.appends_.clear();
    rig.state.busy = true;
    runCommandWorker(rig.services, body);
    Command command;
    for (const auto& append : rig.log.appends_) command.log.push_back(append.text);
    command.trace = rig.sim.driver.trace();
    return command;
}

TEST(BadFiles, FourGigabytesOrMoreIsRefusedBeforeAByteIsAllocated) {
    const std::uint64_t sizes[] = {std::uint64_t{1} << 32, (std::uint64_t{1} << 32) + 4096,
                                   std::numeric_limits<std::uint64_t>::max()};
    for (const std::uint64_t size : sizes) {
        SCOPED_TRACE(size);
        // The operator's image: the loaders went up, then nothing more.
        {
            OperationsRig rig;
            rig.pickImage("huge.img", patternImage(0x10000, 1));
            rig.sim.files.reportSize("huge.img", size);
            LargestAllocation watch;
            EXPECT_EQ(rig.run(writePds),
                      std::vector<std::string>{errorLogged(text::kFileTooLarge, "huge.img")});
            EXPECT_LT(watch.bytes(), kMuchLessThanTheFile);
            EXPECT_EQ(rig.sim.files.liveFiles(), 0u);
        }
        // Each loader image: nothing goes to the phone after the last good transfer, and 'A'
        // never goes out without its RAM loader.
        for (const char* image : {kLoaderImage, kJumpImage, kRamLoaderImage}) {
            SCOPED_TRACE(image);
            OperationsRig rig;
            const std::string loader = rig.sim.files.workingFolderName(image);
            rig.sim.files.reportSize(loader, size);
            LargestAllocation watch;
            const Command command = runCommand(rig, [](CommandContext&) { FAIL(); });
            EXPECT_LT(watch.bytes(), kMuchLessThanTheFile);
            EXPECT_EQ(command.log.back(), text::errorLine(text::kFileTooLarge, loader));
            EXPECT_EQ(command.log.size(), std::string_view(image) == kRamLoaderImage ? 3u : 2u);
            if (std::string_view(image) == kLoaderImage) {
                EXPECT_TRUE(command.trace.empty());
            }
            for (const std::string& line : command.trace) EXPECT_NE(line, writtenHex("41"));
            EXPECT_EQ(rig.sim.files.liveFiles(), 0u);
        }
        // The configuration file: no CG1 line, as for any file that can't be read.
        {
            OperationsRig rig;
            putFile("KESTRIN.ini", Bytes(20, '1'));
            rig.sim.files.reportSize(".\\KESTRIN.ini", size);
            const std::size_t before = rig.log.appends_.size();
            LargestAllocation watch;
            readPhoneInfo(rig.services);
            EXPECT_LT(watch.bytes(), kMuchLessThanTheFile);
            ASSERT_EQ(rig.log.appends_.size(), before + 2);
            EXPECT_EQ(rig.log.appends_.back().text, text::kMode.str() + "FLASH \r\n");
            EXPECT_EQ(rig.sim.files.liveFiles(), 0u);
        }
    }
    if (!LargestAllocation::available()) {
        std::cout << "(allocations not watched: no sanitizer runtime in this build)" << std::endl;
    }
}

// Start texts that make a name Windows would refuse, misread as a device, or take as a path out
// of the working folder. The range is valid each time; only the name is wrong.
TEST(BadFiles, ADumpNameTheFileSystemRefusesIsSaidAndNothingIsRequested) {
    OperationsRig rig;
    // Worked one folder down, so that a name leading out of the working folder would land
    // where the test can see it.
    std::filesystem::create_directory("work");
    std::filesystem::copy("bin", "work/bin");
    std::filesystem::current_path("work");
    for (const char* start : {"", "1:", "1001000:", "CON", "aux", "..\\1", "../1", "1/2"}) {
        SCOPED_TRACE(start);
        rig.fields(start, "1001FFFF");
        const std::string name =
            dumpFileName(start, "1001FFFF", parseHexAddress(start), 0x1001FFFF);
        EXPECT_EQ(rig.run(readRangeToFile),
                  (std::vector<std::string>{logged(text::kReadingBlock.str() + name + "\r\n"),
                                            errorLogged(text::kInvalidFileName, name)}));
        EXPECT_EQ(rig.sim.files.liveFiles(), 0u);
    }
    std::vector<std::string> here;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        here.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(here, std::vector<std::string>{"bin"}) << "a dump was made";
    EXPECT_EQ(rig.files(), std::vector<std::string>{"work"}) << "a dump went out of the folder";
}

// A loader image or an image that another program holds without sharing: the command says which
// file, and the phone gets nothing that depends on it.
TEST(BadFiles, AFileHeldByAnotherProgramIsNamedInTheErrorLine) {
    for (const char* image : {kLoaderImage, kJumpImage, kRamLoaderImage}) {
        SCOPED_TRACE(image);
        OperationsRig rig;
        const std::string loader = rig.sim.files.workingFolderName(image);
        rig.sim.files.failOpening(loader, FileError::sharingViolation);
        const Command command = runCommand(rig, [](CommandContext&) { FAIL(); });
        EXPECT_EQ(command.log.back(), text::errorLine(text::kFileInUse, loader));
        for (const std::string& line : command.trace) EXPECT_NE(line, writtenHex("41"));
    }

    OperationsRig rig;
    for (const CommandBody& body : {CommandBody(writePds), CommandBody(writeBoot),
                                    CommandBody(writePanic), CommandBody(writeBlockRange)}) {
        rig.pickImage("held.img", patternImage(0x20000, 2));
        rig.sim.files.failOpening("held.img", FileError::sharingViolation);
        EXPECT_EQ(rig.run(body),
                  std::vector<std::string>{errorLogged(text::kFileInUse, "held.img")});
    }
    EXPECT_EQ(rig.sim.files.liveFiles(), 0u);
}

}  // namespace
}  // namespace norvale
