// norvale-cli.exe under Windows: Cyrillic on a console whatever its code page, UTF-8 bytes when
// redirected, and one operator's session through the built program.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliProgram.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32Console.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32ThreadStarter.h"
#include "sim/SimDriver.h"

namespace norvale {
namespace {

std::string u8string(std::u8string_view text) { return std::string(text.begin(), text.end()); }

const std::string kBootstrap = "Sending the loader\nJMP01\nRAM LOADER 1\n";

// norvale-cli.exe beside the test program or one folder up (the build tree's root).
std::wstring cliProgramPath() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder.resize(folder.find_last_of(L"\\/"));
    for (int up = 0; up < 2; ++up) {
        const std::wstring candidate = folder + L"\\norvale-cli.exe";
        if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
        folder.resize(folder.find_last_of(L"\\/"));
    }
    return {};
}

std::string fileText(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void putBytes(const std::wstring& path, std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 16);
    }
    std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

// A working folder with loader images; each run's output goes to files, as when redirected.
class CliProgram : public ::testing::Test {
protected:
    CliProgram() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"norvale-cli-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        CreateDirectoryW((folder_ + L"\\bin").c_str(), nullptr);
        putBytes(folder_ + L"\\bin\\loader.bin", 5000, 1);
        putBytes(folder_ + L"\\bin\\LTE2_jump.bin", 1024, 2);
        putBytes(folder_ + L"\\bin\\ram.bin", 2048, 3);
    }
    ~CliProgram() override {
        SetEnvironmentVariableW(L"NORVALE_SIM_FAULTS", nullptr);
        SetEnvironmentVariableW(L"NORVALE_SIM_PHONES", nullptr);
        SetEnvironmentVariableW(L"NORVALE_SIM_ROAD", nullptr);
        std::wstring command = L"cmd /c rmdir /s /q \"" + folder_ + L"\"";
        _wsystem(command.c_str());
    }

    // Runs the program with `arguments` in the folder; the exit code, or -1.
    int run(const std::wstring& arguments) {
        const std::wstring program = cliProgramPath();
        if (program.empty()) {
            ADD_FAILURE() << "norvale-cli.exe is not built beside the tests";
            return -1;
        }
        // Shared: the ended child's handles may linger a moment after it is signalled, and must
        // not keep the test from reading what it wrote.
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        UniqueHandle out(CreateFileW((folder_ + L"\\stdout").c_str(), GENERIC_WRITE, kShared,
                                     &inherit, CREATE_ALWAYS, 0, nullptr));
        UniqueHandle err(CreateFileW((folder_ + L"\\stderr").c_str(), GENERIC_WRITE, kShared,
                                     &inherit, CREATE_ALWAYS, 0, nullptr));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        std::wstring commandLine = L"\"" + program + L"\" " + arguments;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                            CREATE_NO_WINDOW, nullptr, folder_.c_str(), &startup, &process)) {
            ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
            return -1;
        }
        UniqueHandle thread(process.hThread);
        UniqueHandle running(process.hProcess);
        if (WaitForSingleObject(running.get(), 120000) != WAIT_OBJECT_0) {
            TerminateProcess(running.get(), 99);
            ADD_FAILURE() << "norvale-cli.exe did not end";
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(running.get(), &code);
        return static_cast<int>(code);
    }

    std::string out() const { return fileText(folder_ + L"\\stdout"); }
    std::string err() const { return fileText(folder_ + L"\\stderr"); }

    std::wstring folder_;
};

TEST_F(CliProgram, BackupAndAVerifiedWriteTellTheirStoryInRussianUtf8) {
    putBytes(folder_ + L"\\new.bin", 0x10000, 7);
    ASSERT_EQ(run(L"--sim --lang ru backup saved write pds new.bin"), 0) << err();
    const std::string bootstrap = u8string(u8"Посылка загрузчика\nJMP01\nRAM LOADER 1\n");
    EXPECT_NE(out().find(u8string(u8"Запись данных в телефон\n") + bootstrap +
                         u8string(u8"Проверка записанных данных\nУспешно\n")),
              std::string::npos)
        << out();
    EXPECT_NE(out().find(u8string(u8"Записаны контрольные суммы saved\\SHA256SUMS\n")),
              std::string::npos);
    EXPECT_EQ(err(), "");
    const std::string sums = fileText(folder_ + L"\\saved\\SHA256SUMS");
    EXPECT_EQ(sums.substr(0, 64),
              "7bf1f3a47e5cfcd18cebb3c574c649483c82e26071784543860b8a2e57f37b36");

    // A worn block that keeps its old contents: only the verification can tell.
    SetEnvironmentVariableW(L"NORVALE_SIM_FAULTS", L"stuck@10010000");
    EXPECT_EQ(run(L"--sim --lang ru -q write pds new.bin"), 5);
    EXPECT_EQ(err(),
              u8string(u8"ОШИБКА - записанные данные отличаются от образа, адрес: 10010000\n"));
    EXPECT_EQ(out(), "");
}

TEST_F(CliProgram, ARestoreWritesBackOnlyTheBlocksThatChangedAndKeepsWhatThePhoneHeld) {
    // Each run has a simulated phone of its own: the first is backed up; the second has PDS
    // written over and is then restored from the first's backup.
    ASSERT_EQ(run(L"--sim -q backup saved"), 0) << err();
    putBytes(folder_ + L"\\new.bin", 0x10000, 7);
    ASSERT_EQ(run(L"--sim --lang en write pds new.bin --no-verify restore saved"), 0) << err();
    EXPECT_EQ(err(), "");
    const std::string pds = "Restoring from the file saved\\PDS.bin\n" + kBootstrap +
                            "Comparing the phone's blocks with the image\n"
                            "Block differs from the image, to be written: 10010000\n"
                            "Block differs from the image, to be written: 10018000\n" +
                            kBootstrap + "Writing data to the phone\n" + kBootstrap +
                            "Verifying the written data\nSuccess\n";
    EXPECT_NE(out().find(pds), std::string::npos) << out();
    EXPECT_NE(out().find("Block already holds the image, not written: 10020000\nSuccess\n"),
              std::string::npos);

    // What the phone held before the restore went into a new folder beside the backup.
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder_ + L"\\backup-*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    const std::wstring kept = folder_ + L"\\" + found.cFileName;
    EXPECT_EQ(fileText(kept + L"\\PDS.bin"), fileText(folder_ + L"\\new.bin"));
    EXPECT_EQ(fileText(kept + L"\\Boot.bin"), fileText(folder_ + L"\\saved\\Boot.bin"));

    // A checksums file that vouches for nothing is refused before the phone is asked anything.
    std::ofstream((folder_ + L"\\saved\\SHA256SUMS").c_str(), std::ios::binary) << "x\n";
    EXPECT_EQ(run(L"--sim --lang en restore saved"), 4);
    EXPECT_EQ(err(), "ERROR - malformed line in the checksums file: saved\\SHA256SUMS:1\n");
    EXPECT_EQ(out(), "");

    // Windows names the working folder's files as it always has.
    DeleteFileW((folder_ + L"\\bin\\ram.bin").c_str());
    EXPECT_EQ(run(L"--sim --lang en -q blank"), 4);
    EXPECT_EQ(err(), "ERROR - could not read the file .\\bin\\ram.bin\n");
}

// Three simulated phones on the maker's driver at once: each backed up into a folder named
// after its socket, one journal line each, every output line after its phone's place.
TEST_F(CliProgram, AStationBacksUpThreePhonesAtOnceEachIntoItsOwnFolder) {
    SetEnvironmentVariableW(L"NORVALE_SIM_PHONES", L"3");
    ASSERT_EQ(run(L"--sim --lang en --station --count 3 --journal j.jsonl backup"), 0) << err();
    EXPECT_EQ(err(), "");

    std::vector<std::wstring> folders;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder_ + L"\\*-*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            folders.push_back(found.cFileName);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    ASSERT_EQ(folders.size(), 3u);
    std::vector<std::string> sums;
    for (const std::wstring& name : folders) {
        // The driver's device path, made a name Windows takes: no '\', '?', '#' or braces.
        EXPECT_EQ(name.find_first_of(L"\\?#{}&"), std::wstring::npos);
        sums.push_back(fileText(folder_ + L"\\" + name + L"\\SHA256SUMS"));
        EXPECT_EQ(sums.back().size(), 3 * (64 + 2) + 9 + 8 + 10) << sums.back();
    }
    // Each phone's flash is its own: three different backups.
    EXPECT_NE(sums[0], sums[1]);
    EXPECT_NE(sums[1], sums[2]);

    const std::string journal = fileText(folder_ + L"\\j.jsonl");
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = journal.find('\n', at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, 3u) << journal;
    std::size_t done = 0;
    for (std::size_t at = 0;
         (at = journal.find(R"("exit_code":0,"reason":"","error":""})", at)) != std::string::npos;
         ++at) {
        ++done;
    }
    EXPECT_EQ(done, 3u) << journal;

    const std::string text = out();
    ASSERT_NE(text, "") << "each phone's lines, after its place";
    for (std::size_t begin = 0; begin < text.size();) {
        const std::size_t end = text.find('\n', begin);
        EXPECT_EQ(text[begin], '[') << text.substr(begin, end - begin);
        begin = end + 1;
    }
}

// A station ends with its own exit code, its phones done or one failed, while the phones it
// served stay attached and watched: the watch and every session end before the process does, so
// nothing is left running to fault as the process is torn down.
TEST_F(CliProgram, AStationEndsWithItsOwnExitCodeRunAfterRun) {
    putBytes(folder_ + L"\\new.bin", 0x10000, 5);
    SetEnvironmentVariableW(L"NORVALE_SIM_PHONES", L"3");
    SetEnvironmentVariableW(L"NORVALE_SIM_ROAD", L"usb");
    const std::wstring chain =
        L"--sim --lang en -q --station --count 3 --journal j.jsonl backup write pds new.bin";
    for (int n = 0; n < 3; ++n) {
        SCOPED_TRACE("run " + std::to_string(n + 1));
        SetEnvironmentVariableW(L"NORVALE_SIM_FAULTS", nullptr);
        EXPECT_EQ(run(chain), 0);
        EXPECT_EQ(err(), "");
        SetEnvironmentVariableW(L"NORVALE_SIM_FAULTS", L"2:unplug@30");
        EXPECT_EQ(run(chain), 6);
        EXPECT_EQ(err(), "[sim-2] ERROR - no connection with the phone\n");
    }
}

// Runs in a console of its own (CliConsole.RussianReadsRightOnAConsoleOfAnyCodePage starts it):
// the whole command line on the real Win32Console and the simulator, then the screen read back.
TEST(CliConsoleChild, PrintsTheSessionOnItsConsole) {
    wchar_t report[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"NORVALE_CONSOLE_REPORT", report, MAX_PATH) == 0) {
        GTEST_SKIP() << "started by CliConsole.RussianReadsRightOnAConsoleOfAnyCodePage";
    }
    const std::wstring folder = std::wstring(report) + L".work";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\bin").c_str(), nullptr);
    putBytes(folder + L"\\bin\\loader.bin", 5000, 1);
    putBytes(folder + L"\\bin\\LTE2_jump.bin", 1024, 2);
    putBytes(folder + L"\\bin\\ram.bin", 2048, 3);
    SetCurrentDirectoryW(folder.c_str());

    // A code page without a single Cyrillic letter, and a clean screen from its top row.
    SetConsoleOutputCP(437);
    const HANDLE screen = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &info)) << "no console";
    DWORD filled = 0;
    FillConsoleOutputCharacterW(screen, L' ', info.dwSize.X * info.dwSize.Y, COORD{0, 0}, &filled);
    SetConsoleCursorPosition(screen, COORD{0, 0});

    Win32Console console;
    Win32FileSystem files;
    Win32Clock clock;
    Win32ThreadStarter threads;
    CliBindings bindings{
        console, files, clock, threads, [&clock](bool) -> std::shared_ptr<PhoneRoads> {
            struct Held {
                std::unique_ptr<SimDriver> sim;
                PhoneRoads roads;
            };
            auto sim = std::make_unique<SimDriver>(clock);
            sim->attach();
            SimDriver& driver = *sim;
            auto held =
                std::make_shared<Held>(Held{std::move(sim), {driver, driver, driver, driver}});
            return {held, &held->roads};
        }};
    const std::vector<std::string> args{"--sim", "--lang", "ru", "read", "pds"};
    const int code = runCli(args, bindings);

    std::wstring rows;
    for (SHORT y = 0; y < 10; ++y) {
        std::wstring row(info.dwSize.X, L' ');
        DWORD got = 0;
        ReadConsoleOutputCharacterW(screen, row.data(), info.dwSize.X, COORD{0, y}, &got);
        row.resize(row.find_last_not_of(L' ') + 1);
        rows += row + L"\n";
    }
    std::ofstream(report, std::ios::binary)
        << code << "\n"
        << std::string(reinterpret_cast<const char*>(rows.data()), rows.size() * 2);
}

// The console's characters, read back from its screen, are the Russian lines: WriteConsoleW
// puts them there whatever code page the console has.
TEST(CliConsole, RussianReadsRightOnAConsoleOfAnyCodePage) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring report =
        std::wstring(temp) + L"norvale-console-" + std::to_wstring(GetCurrentProcessId());
    DeleteFileW(report.c_str());
    SetEnvironmentVariableW(L"NORVALE_CONSOLE_REPORT", report.c_str());
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --gtest_filter=CliConsoleChild.*";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE,
                                        CREATE_NEW_CONSOLE, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(L"NORVALE_CONSOLE_REPORT", nullptr);
    ASSERT_TRUE(started) << GetLastError();
    UniqueHandle thread(process.hThread);
    UniqueHandle child(process.hProcess);
    ASSERT_EQ(WaitForSingleObject(child.get(), 120000), WAIT_OBJECT_0);

    const std::string bytes = fileText(report);
    ASSERT_FALSE(bytes.empty()) << "the child wrote no report";
    const std::size_t newline = bytes.find('\n');
    EXPECT_EQ(bytes.substr(0, newline), "0");
    const std::string wide = bytes.substr(newline + 1);
    const std::wstring screen(reinterpret_cast<const wchar_t*>(wide.data()), wide.size() / 2);
    EXPECT_EQ(screen, L"Телефон подключен\nВерсия Boot'a: 0C60\nРежим: FLASH\nПосылка загрузчика\n"
                      L"JMP01\nRAM LOADER 1\nЧтение блока данных PDS.bin\nУспешно\n\n\n");
    DeleteFileW(report.c_str());
    std::wstring command = L"cmd /c rmdir /s /q \"" + report + L".work\"";
    _wsystem(command.c_str());
}

}  // namespace
}  // namespace norvale
