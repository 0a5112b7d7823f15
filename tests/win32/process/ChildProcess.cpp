// A program of the build started as a process of its own.
#include "win32/process/ChildProcess.h"

#include <algorithm>

namespace norvale::testing {
namespace {

std::wstring nameOf(const std::wstring& entry) { return entry.substr(0, entry.find(L'=')); }

bool sameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The test's environment with `overrides` put over it, as CreateProcessW takes it.
std::wstring environmentBlock(const std::vector<std::wstring>& overrides) {
    std::vector<std::wstring> entries;
    wchar_t* own = GetEnvironmentStringsW();
    for (const wchar_t* entry = own; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring text(entry);
        const bool replaced = std::any_of(overrides.begin(), overrides.end(), [&](const auto& o) {
            return sameName(nameOf(o), nameOf(text));
        });
        if (!replaced) entries.push_back(text);
    }
    FreeEnvironmentStringsW(own);
    entries.insert(entries.end(), overrides.begin(), overrides.end());
    std::wstring block;
    for (const std::wstring& entry : entries) block.append(entry).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

}  // namespace

ChildProcess::ChildProcess(const std::wstring& program, const std::wstring& arguments,
                           const std::wstring& folder, const std::vector<std::wstring>& environment,
                           const std::wstring& outputFile) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    std::wstring block = environmentBlock(environment);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    HANDLE output = INVALID_HANDLE_VALUE;
    if (!outputFile.empty()) {
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        output = CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                        output != INVALID_HANDLE_VALUE, CREATE_UNICODE_ENVIRONMENT, block.data(),
                        folder.c_str(), &startup, &info_)) {
        info_ = {};
    } else {
        CloseHandle(info_.hThread);
        info_.hThread = nullptr;
    }
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
}

ChildProcess::~ChildProcess() {
    if (info_.hProcess == nullptr) return;
    if (running()) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hProcess);
}

bool ChildProcess::running() const {
    return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool ChildProcess::waitForExit(DWORD ms) const {
    return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, ms) == WAIT_OBJECT_0;
}

DWORD ChildProcess::exitCode() const {
    DWORD code = STILL_ACTIVE;
    if (info_.hProcess != nullptr) GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

std::wstring builtProgram(const std::wstring& name) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder.resize(folder.find_last_of(L"\\/"));
    for (int up = 0; up < 2; ++up) {
        const std::wstring candidate = folder + L"\\" + name;
        if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
        folder.resize(folder.find_last_of(L"\\/"));
    }
    return {};
}

}  // namespace norvale::testing
