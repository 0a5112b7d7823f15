// Both programs as the operator starts them: presence on the real bindings and on the simulator.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>

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

// `name` beside the test program or one folder up (the build tree's root).
std::wstring programPath(const std::wstring& name) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    for (int up = 0; up < 2; ++up) {
        folder.resize(folder.find_last_of(L"\\/"));
        const std::wstring candidate = folder + L"\\" + name;
        if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
    }
    return {};
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

// One program started in a scratch folder with the given simulator faults; ended when the test
// is done. `opened` is when its dialog window was first seen.
class ProgramRun {
public:
    ProgramRun(const std::wstring& program, const wchar_t* faults, const char* configuration) {
        const std::wstring path = programPath(program);
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
        if (configuration != nullptr) writeConfiguration(configuration);

        // The child inherits the environment: the faults are set for it alone.
        SetEnvironmentVariableW(L"NORVALE_SIM_FAULTS", faults);
        std::wstring commandLine = L"\"" + path + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        const BOOL started =
            CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           folder_.c_str(), &startup, &process_);
        SetEnvironmentVariableW(L"NORVALE_SIM_FAULTS", nullptr);
        if (!started) {
            ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
            return;
        }
        CloseHandle(process_.hThread);
        DialogSearch search{process_.dwProcessId};
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
        if (process_.hProcess != nullptr) {
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, 5000);
            CloseHandle(process_.hProcess);
        }
        const std::wstring config = folder_ + L"\\KESTRIN.ini";
        SetFileAttributesW(config.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(config.c_str());
        RemoveDirectoryW(folder_.c_str());
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

    HWND dialog = nullptr;
    Clock::time_point opened;

private:
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
    PROCESS_INFORMATION process_{};
};

TEST(ConnectionMonitorProgram, WithoutAPhoneTheProductShowsNotConnectedAndKeepsAnswering) {
    ProgramRun run(L"norvale.exe", nullptr, "CG1ADR=100A0000");
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
    ProgramRun run(L"norvale-sim.exe", nullptr, "CG1ADR=100A0000\r\n");
    ASSERT_NE(run.dialog, nullptr);
    const auto after =
        run.logBecomes(L"Телефон подключен\r\nВерсия Boot'a: 0C60\r\nРежим: FLASH \r\n"
                       L"Начало CG1 - 100A0000\r\n");
    ASSERT_TRUE(after.has_value()) << "log: " << testing::PrintToString(run.log());
    EXPECT_GE(*after, 900ms);
    EXPECT_LE(*after, 4000ms);
    EXPECT_EQ(run.status(), L"Подключен");
    EXPECT_TRUE(run.answers());
}

TEST(ConnectionMonitorProgram, AnUnplugFaultIsShownAsTheRemoval) {
    // The phone goes before the third transfer, the ENUM packet of the arrival.
    ProgramRun run(L"norvale-sim.exe", L"unplug@3", nullptr);
    ASSERT_NE(run.dialog, nullptr);
    const auto after = run.logBecomes(
        L"Телефон подключен\r\nВерсия Boot'a: 0C60\r\nРежим: \r\nТелефон отключен\r\n\r\n");
    ASSERT_TRUE(after.has_value()) << "log: " << testing::PrintToString(run.log());
    // The status is set right after the lines; give the UI thread its moment.
    const auto deadline = Clock::now() + 5s;
    while (run.status() != L"Не подключен" && Clock::now() < deadline) Sleep(5);
    EXPECT_EQ(run.status(), L"Не подключен");
    // Nothing comes back: the unplugged phone stays away, scan after scan.
    Sleep(7000);
    EXPECT_EQ(run.log(),
              L"Телефон подключен\r\nВерсия Boot'a: 0C60\r\nРежим: \r\nТелефон отключен\r\n\r\n");
}

}  // namespace
}  // namespace norvale
