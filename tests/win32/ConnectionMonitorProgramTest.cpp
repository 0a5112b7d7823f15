// Both programs as the operator starts them: presence on the real bindings and on the simulator.
#include <windows.h>

#include <gtest/gtest.h>

#include <dlgs.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "win32/process/ChildProcess.h"

namespace norvale {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::wstring textOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// GetWindowTextW doesn't ask a control of another process; the message itself is carried over.
std::wstring controlText(HWND control) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK, 2000, &length)) {
        return L"<no answer>";
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, text.size(),
                             reinterpret_cast<LPARAM>(text.data()), SMTO_BLOCK, 2000, &copied)) {
        return L"<no answer>";
    }
    text.resize(copied);
    return text;
}

struct DialogSearch {
    DWORD processId;
    HWND found = nullptr;
};

BOOL CALLBACK findDialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<DialogSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || textOf(window) != L"Norvale      v 0.5") return TRUE;
    search->found = window;
    return FALSE;
}

struct FileDialogSearch {
    DWORD processId;
    HWND main;
    HWND found = nullptr;
};

BOOL CALLBACK findFileDialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<FileDialogSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (owner != search->processId || window == search->main || !IsWindowVisible(window) ||
        std::wstring(name) != L"#32770") {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

// What a program run starts with: the simulator's environment and the files of its folder.
struct ProgramSetup {
    const wchar_t* faults = nullptr;      // NORVALE_SIM_FAULTS
    const char* configuration = nullptr;  // KESTRIN.ini, read-only
    const wchar_t* road = nullptr;        // NORVALE_SIM_ROAD
    bool traced = false;                  // NORVALE_SIM_TRACE names trace.txt in the folder
    std::vector<std::pair<std::wstring, std::string>> files{};  // under the folder, bin\ made
};

// One program started in a scratch folder as `setup` says; ended when the test is done. `opened`
// is when its dialog window was first seen.
class ProgramRun {
public:
    ProgramRun(const std::wstring& program, const ProgramSetup& setup) {
        const std::wstring path = testing::builtProgram(program);
        if (path.empty()) {
            ADD_FAILURE() << "the program is not built beside the tests";
            return;
        }
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        static int runs = 0;
        folder_ = std::wstring(temp) + L"norvale-presence-" +
                  std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++runs);
        CreateDirectoryW(folder_.c_str(), nullptr);
        CreateDirectoryW((folder_ + L"\\bin").c_str(), nullptr);
        if (setup.configuration != nullptr) writeConfiguration(setup.configuration);
        for (const auto& [name, bytes] : setup.files) {
            std::ofstream(std::filesystem::path(folder_ + L"\\" + name), std::ios::binary) << bytes;
        }

        // The simulator's settings go to the child alone.
        std::vector<std::wstring> environment;
        if (setup.faults != nullptr)
            environment.push_back(L"NORVALE_SIM_FAULTS=" + std::wstring(setup.faults));
        if (setup.road != nullptr)
            environment.push_back(L"NORVALE_SIM_ROAD=" + std::wstring(setup.road));
        if (setup.traced) environment.push_back(L"NORVALE_SIM_TRACE=" + folder_ + L"\\trace.txt");
        process_.emplace(path, L"", folder_, environment);
        if (!process_->started()) {
            ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
            return;
        }
        DialogSearch search{process_->id()};
        const auto deadline = Clock::now() + 20s;
        while (search.found == nullptr && Clock::now() < deadline) {
            EnumWindows(findDialog, reinterpret_cast<LPARAM>(&search));
            if (search.found == nullptr) Sleep(5);
        }
        opened = Clock::now();
        dialog = search.found;
        if (dialog == nullptr) ADD_FAILURE() << "no dialog window appeared";
    }
    ~ProgramRun() {
        process_.reset();  // ended first: its folder can go only once nothing holds it
        const std::wstring config = folder_ + L"\\KESTRIN.ini";
        SetFileAttributesW(config.c_str(), FILE_ATTRIBUTE_NORMAL);
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(folder_), ignored);
    }
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    std::wstring log() const { return controlText(GetDlgItem(dialog, 1000)); }
    // A status bar answers WM_GETTEXT with the text of its part 0.
    std::wstring status() const { return controlText(GetDlgItem(dialog, 1018)); }
    bool answers() const {
        DWORD_PTR result = 0;
        return SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_BLOCK, 2000, &result) != 0;
    }
    // Polls until the log reads `expected`; how long after the dialog opened that was, or
    // nullopt when it never did within 15 s.
    std::optional<std::chrono::milliseconds> logBecomes(const std::wstring& expected) const {
        const auto deadline = opened + 15s;
        while (log() != expected) {
            if (Clock::now() > deadline) return std::nullopt;
            Sleep(5);
        }
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - opened);
    }

    // Clicks a command button as the operator does, picks `image` (in the folder) when the
    // command asks for a file, and returns what the command added to the log once all of
    // `lines` are in it (nullopt when they never were within a minute).
    std::optional<std::wstring> command(int button, const wchar_t* image,
                                        const std::vector<std::wstring>& lines) {
        const std::size_t before = log().size();
        PostMessageW(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
        if (image != nullptr) {
            HWND chooser = nullptr;
            for (int i = 0; i < 2000 && chooser == nullptr; ++i) {
                Sleep(10);
                chooser = fileDialog();
            }
            if (chooser == nullptr) return std::nullopt;
            SetDlgItemTextW(chooser, cmb13, (folder_ + L"\\" + image).c_str());
            PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));
        }
        const auto deadline = Clock::now() + 60s;
        for (;;) {
            const std::wstring added = log().substr(before);
            bool all = true;
            for (const std::wstring& line : lines) all = all && added.find(line) != added.npos;
            // The worker ends right after its last line: give it the moment before a next click.
            if (all) Sleep(300);
            if (all) return added;
            if (Clock::now() > deadline) return std::nullopt;
            Sleep(20);
        }
    }
    std::wstring file(const wchar_t* name) const { return folder_ + L"\\" + name; }

    HWND dialog = nullptr;
    Clock::time_point opened;

private:
    // The open-file dialog the program shows: a dialog of its own, not the main one.
    HWND fileDialog() const {
        FileDialogSearch search{process_->id(), dialog};
        EnumWindows(findFileDialog, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    void writeConfiguration(const char* bytes) const {
        const std::wstring config = folder_ + L"\\KESTRIN.ini";
        HANDLE file = CreateFileW(config.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes, static_cast<DWORD>(strlen(bytes)), &written, nullptr);
        CloseHandle(file);
        // The operator's copy is often read-only: it is only ever read.
        SetFileAttributesW(config.c_str(), FILE_ATTRIBUTE_READONLY);
    }

    std::wstring folder_;
    std::optional<testing::ChildProcess> process_;
};

TEST(ConnectionMonitorProgram, WithoutAPhoneTheProductShowsNotConnectedAndKeepsAnswering) {
    ProgramRun run(L"norvale.exe", {.configuration = "CG1ADR=100A0000"});
    ASSERT_NE(run.dialog, nullptr);
    // Several scans go by; each must leave the dialog free.
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(run.answers());
        Sleep(500);
    }
    EXPECT_EQ(run.status(), L"Не подключен");
    EXPECT_EQ(run.log(), L"");
}

TEST(ConnectionMonitorProgram, TheSimulatedPhoneIsAnnouncedAboutASecondAfterStart) {
    ProgramRun run(L"norvale-sim.exe", {.configuration = "CG1ADR=100A0000\r\n"});
    ASSERT_NE(run.dialog, nullptr);
    const auto after =
        run.logBecomes(L"Телефон подключен\r\nВерсия Boot'a: 0C60\r\nРежим: FLASH \r\n"
                       L"Начало CG1 - 100A0000\r\n");
    ASSERT_TRUE(after.has_value()) << "log: " << ::testing::PrintToString(run.log());
    EXPECT_GE(*after, 900ms);
    EXPECT_LE(*after, 4000ms);
    EXPECT_EQ(run.status(), L"Подключен");
    EXPECT_TRUE(run.answers());
}

TEST(ConnectionMonitorProgram, AnUnplugFaultIsShownAsTheRemoval) {
    // The phone goes before the third transfer, the ENUM packet of the arrival.
    ProgramRun run(L"norvale-sim.exe", {.faults = L"unplug@3"});
    ASSERT_NE(run.dialog, nullptr);
    const auto after = run.logBecomes(
        L"Телефон подключен\r\nВерсия Boot'a: 0C60\r\nРежим: \r\nТелефон отключен\r\n\r\n");
    ASSERT_TRUE(after.has_value()) << "log: " << ::testing::PrintToString(run.log());
    // The status is set right after the lines; give the UI thread its moment.
    const auto deadline = Clock::now() + 5s;
    while (run.status() != L"Не подключен" && Clock::now() < deadline) Sleep(5);
    EXPECT_EQ(run.status(), L"Не подключен");
    // Nothing comes back: the unplugged phone stays away, scan after scan.
    Sleep(7000);
    EXPECT_EQ(run.log(),
              L"Телефон подключен\r\nВерсия Boot'a: 0C60\r\nРежим: \r\nТелефон отключен\r\n\r\n");
}

// Bytes that differ from one offset to the next.
std::string pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7 + (i >> 8));
    return bytes;
}

// One run of norvale-sim.exe on `road`: every command button clicked in turn, the way the
// operator does it, up to the start that takes the phone out of flash mode.
struct SevenButtons {
    std::wstring logBeforeStart;
    std::wstring start;  // what "Запустить телефон" added, the removal included
    std::vector<std::string> trace;
    std::string dump;
};

SevenButtons clickEveryButton(const wchar_t* road) {
    SevenButtons seen;
    ProgramRun run(L"norvale-sim.exe", {.road = road,
                                        .traced = true,
                                        .files = {{L"bin\\loader.bin", pattern(3000, 1)},
                                                  {L"bin\\LTE2_jump.bin", pattern(100, 2)},
                                                  {L"bin\\ram.bin", pattern(2048, 3)},
                                                  {L"pds.img", pattern(0x10000, 4)},
                                                  {L"boot.img", pattern(0x10000, 5)},
                                                  {L"panic.img", pattern(0x20000, 6)},
                                                  {L"blocks.img", pattern(0x10000, 7)}}});
    if (run.dialog == nullptr) return seen;
    if (!run.logBecomes(L"Телефон подключен\r\nВерсия Boot'a: 0C60\r\nРежим: FLASH \r\n")) {
        ADD_FAILURE() << "no arrival; log: " << ::testing::PrintToString(run.log());
        return seen;
    }
    const std::wstring success = L"Успешно\r\n";
    // The fields as the dialog fills them: the block range and the read are the PDS region's.
    const std::pair<int, const wchar_t*> steps[] = {{1037, L"pds.img"},
                                                    {1043, nullptr},
                                                    {1038, L"boot.img"},
                                                    {1039, L"panic.img"},
                                                    {1041, L"blocks.img"}};
    for (const auto& [button, image] : steps) {
        const auto added = run.command(button, image, {success});
        EXPECT_TRUE(added) << button << "; log: " << ::testing::PrintToString(run.log());
        if (!added) return seen;
        // Reading PDS comes right after its write: the dump holds what was written.
        if (button == 1043) {
            std::ifstream dump(std::filesystem::path(run.file(L"PDS.bin")), std::ios::binary);
            seen.dump.assign(std::istreambuf_iterator<char>(dump), {});
        }
    }
    EXPECT_TRUE(run.command(1042, nullptr, {L"Установка режима Blank\r\n"}));
    seen.logBeforeStart = run.log();
    seen.start = run.command(1044, nullptr, {success, L"Телефон отключен\r\n\r\n"}).value_or(L"");
    std::ifstream trace(std::filesystem::path(run.file(L"trace.txt")));
    for (std::string line; std::getline(trace, line);) seen.trace.push_back(line);
    return seen;
}

std::vector<std::string> writesOf(const std::vector<std::string>& trace) {
    std::vector<std::string> writes;
    for (const std::string& line : trace) {
        if (line.rfind("W ", 0) == 0) writes.push_back(line);
    }
    return writes;
}

TEST(ConnectionMonitorProgram, EveryButtonWorksOnTheUsbRoadAsOnTheDriverRoadByteForByte) {
    const SevenButtons driver = clickEveryButton(L"driver");
    const SevenButtons usb = clickEveryButton(L"usb");
    ASSERT_FALSE(driver.trace.empty());
    ASSERT_FALSE(usb.trace.empty());
    EXPECT_EQ(driver.trace.front(), "# road driver");
    EXPECT_EQ(usb.trace.front(), "# road usb");

    EXPECT_EQ(usb.logBeforeStart, driver.logBeforeStart);
    EXPECT_EQ(usb.dump, pattern(0x10000, 4));
    EXPECT_EQ(driver.dump, usb.dump);
    // The start's "Успешно" and the removal the monitor reports race each other on either road.
    const std::wstring started =
        L"Посылка загрузчика\r\nJMP01\r\nRAM LOADER 1\r\nЗапуск телефона\r\n";
    const std::wstring either[] = {started + L"Успешно\r\nТелефон отключен\r\n\r\n",
                                   started + L"Телефон отключен\r\n\r\nУспешно\r\n"};
    for (const std::wstring* start : {&driver.start, &usb.start}) {
        EXPECT_TRUE(*start == either[0] || *start == either[1]) << ::testing::PrintToString(*start);
    }

    const std::vector<std::string> usbWrites = writesOf(usb.trace);
    const std::vector<std::string> driverWrites = writesOf(driver.trace);
    EXPECT_GT(usbWrites.size(), 100u);
    EXPECT_TRUE(usbWrites == driverWrites) << usbWrites.size() << " writes on the USB road, "
                                           << driverWrites.size() << " on the driver's";
}

}  // namespace
}  // namespace norvale
