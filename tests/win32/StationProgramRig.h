// norvale-station-sim.exe run as a process over simulated phones, and driven as an operator
// drives it: its controls found by id, clicked, its list's cells read.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/Win32Handles.h"
#include "ui/resources/resource.h"
#include "ui/win32/WideText.h"
#include "win32/DialogHarness.h"

namespace norvale::testing {

// norvale-station-sim.exe beside the test program or one folder up (the build tree's root).
inline std::wstring stationProgramPath() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder.resize(folder.find_last_of(L"\\/"));
    for (int up = 0; up < 2; ++up) {
        const std::wstring candidate = folder + L"\\norvale-station-sim.exe";
        if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
        folder.resize(folder.find_last_of(L"\\/"));
    }
    return {};
}

inline void putLoaderBytes(const std::wstring& path, std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 16);
    }
    UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// A working folder with the loader images and a profile folder of its own (APPDATA), so the
// settings a run keeps are this test's alone.
class StationFolder {
public:
    StationFolder() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        static int made = 0;
        path = std::wstring(temp) + L"norvale-station-" + std::to_wstring(GetCurrentProcessId()) +
               L"-" + std::to_wstring(++made);
        CreateDirectoryW(path.c_str(), nullptr);
        CreateDirectoryW((path + L"\\bin").c_str(), nullptr);
        CreateDirectoryW((path + L"\\profile").c_str(), nullptr);
        putLoaderBytes(path + L"\\bin\\loader.bin", 5000, 1);
        putLoaderBytes(path + L"\\bin\\LTE2_jump.bin", 1024, 2);
        putLoaderBytes(path + L"\\bin\\ram.bin", 2048, 3);
    }
    ~StationFolder() {
        const std::wstring command = L"cmd /c rmdir /s /q \"" + path + L"\"";
        _wsystem(command.c_str());
    }
    StationFolder(const StationFolder&) = delete;
    StationFolder& operator=(const StationFolder&) = delete;

    bool exists(const std::wstring& name) const {
        return GetFileAttributesW((path + L"\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::wstring path;
};

struct FoundWindow {
    DWORD processId;
    HWND window = nullptr;
};

// The station window is ready once its phone list has its columns.
inline BOOL CALLBACK findStationWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<FoundWindow*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId) return TRUE;
    HWND list = GetDlgItem(window, IDC_ST_PHONES);
    if (list == nullptr) return TRUE;
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    if (header == nullptr || SendMessageW(header, HDM_GETITEMCOUNT, 0, 0) < 9) return TRUE;
    search->window = window;
    return FALSE;
}

// A message box of the process (the question before closing), by its window class.
inline BOOL CALLBACK findMessageBox(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<FoundWindow*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (owner != search->processId || std::wstring(className) != L"#32770" ||
        GetDlgItem(window, IDYES) == nullptr || !IsWindowVisible(window)) {
        return TRUE;
    }
    search->window = window;
    return FALSE;
}

// The program, started in `folder` with `environment` (NAME=VALUE items) added to the test's
// own; ended, if it still runs, when the test is done.
class StationProgram {
public:
    StationProgram(const StationFolder& folder, std::vector<std::wstring> environment) {
        const std::wstring program = stationProgramPath();
        if (program.empty()) {
            ADD_FAILURE() << "norvale-station-sim.exe is not built beside the tests";
            return;
        }
        environment.push_back(L"APPDATA=" + folder.path + L"\\profile");
        std::vector<std::pair<std::wstring, std::wstring>> saved;
        for (const std::wstring& item : environment) {
            const std::wstring name = item.substr(0, item.find(L'='));
            wchar_t old[1024] = {};
            const DWORD had = GetEnvironmentVariableW(name.c_str(), old, 1024);
            saved.emplace_back(name, had ? std::wstring(old) : std::wstring());
            SetEnvironmentVariableW(name.c_str(), item.substr(item.find(L'=') + 1).c_str());
        }
        std::wstring commandLine = L"\"" + program + L"\"";
        STARTUPINFOW startup{sizeof startup};
        const BOOL created =
            CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           folder.path.c_str(), &startup, &process_);
        for (const auto& [name, value] : saved) {
            SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
        }
        if (!created) {
            ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
            return;
        }
        CloseHandle(process_.hThread);
        FoundWindow search{process_.dwProcessId};
        waitUntil([&] {
            EnumWindows(findStationWindow, reinterpret_cast<LPARAM>(&search));
            return search.window != nullptr;
        });
        window = search.window;
        if (window == nullptr) ADD_FAILURE() << "no station window appeared";
    }
    ~StationProgram() {
        if (process_.hProcess == nullptr) return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, 5000);
        }
        CloseHandle(process_.hProcess);
    }
    StationProgram(const StationProgram&) = delete;
    StationProgram& operator=(const StationProgram&) = delete;

    HWND item(int id) const { return GetDlgItem(window, id); }
    // A click as the operator's, posted so that a modal box it opens can't block the test.
    void click(int id) const { PostMessageW(item(id), BM_CLICK, 0, 0); }
    // Waits until the window has handled everything posted before.
    void settle() const {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &answer);
    }
    // A control's text (WM_GETTEXT crosses processes).
    std::wstring text(int id) const {
        wchar_t buffer[4096] = {};
        SendMessageW(item(id), WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer));
        return buffer;
    }
    void setText(int id, const std::wstring& value) const {
        SendMessageW(item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
    }
    bool enabled(int id) const { return IsWindowEnabled(item(id)) != FALSE; }
    bool checked(int id) const { return SendMessageW(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    std::vector<std::wstring> steps() const {
        std::vector<std::wstring> lines;
        const auto count = SendMessageW(item(IDC_ST_STEPS), LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t line[1024] = {};
            SendMessageW(item(IDC_ST_STEPS), LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
            lines.emplace_back(line);
        }
        return lines;
    }

    int rowCount() const {
        return static_cast<int>(SendMessageW(item(IDC_ST_PHONES), LVM_GETITEMCOUNT, 0, 0));
    }
    // A cell of the phone list. LVM_GETITEMTEXTW carries pointers, which don't cross processes:
    // the item and its text buffer are made in the program's memory and read back from there.
    std::wstring cell(int row, int column) const {
        constexpr std::size_t kChars = 512;
        struct Remote {
            LVITEMW item;
            wchar_t text[kChars];
        };
        void* remote = VirtualAllocEx(process_.hProcess, nullptr, sizeof(Remote),
                                      MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (remote == nullptr) return L"<no memory>";
        Remote local{};
        local.item.iSubItem = column;
        local.item.cchTextMax = kChars;
        local.item.pszText = reinterpret_cast<Remote*>(remote)->text;
        WriteProcessMemory(process_.hProcess, remote, &local, sizeof local, nullptr);
        SendMessageW(item(IDC_ST_PHONES), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(process_.hProcess, remote, &local, sizeof local, nullptr);
        VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
        local.text[kChars - 1] = L'\0';
        return local.text;
    }
    std::vector<std::wstring> row(int index) const {
        std::vector<std::wstring> cells;
        for (int column = 0; column < 9; ++column) cells.push_back(cell(index, column));
        return cells;
    }

    // The question the program asks before it closes, once it is up.
    HWND question(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        FoundWindow search{process_.dwProcessId};
        waitUntil(
            [&] {
                search.window = nullptr;
                EnumWindows(findMessageBox, reinterpret_cast<LPARAM>(&search));
                return search.window != nullptr;
            },
            timeout);
        return search.window;
    }

    bool waitForExit(DWORD ms) const {
        return WaitForSingleObject(process_.hProcess, ms) == WAIT_OBJECT_0;
    }
    DWORD exitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    HWND window = nullptr;

private:
    PROCESS_INFORMATION process_{};
};

}  // namespace norvale::testing
