// A program of the build started as a process of its own, for the tests that drive it from outside.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace norvale::testing {

// A started program with its own environment and working folder; ended by force, if it still
// runs, when the test is done with it.
class ChildProcess {
public:
    // `environment`: NAME=VALUE entries put over the test's own environment. The program's
    // standard output and error go to `outputFile` when it is not empty.
    ChildProcess(const std::wstring& program, const std::wstring& arguments,
                 const std::wstring& folder, const std::vector<std::wstring>& environment,
                 const std::wstring& outputFile = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return info_.hProcess != nullptr; }
    HANDLE handle() const { return info_.hProcess; }
    DWORD id() const { return info_.dwProcessId; }
    bool running() const;
    // True once it ended within `ms`.
    bool waitForExit(DWORD ms) const;
    DWORD exitCode() const;

private:
    PROCESS_INFORMATION info_{};
};

// A program of the build tree (beside the test program or one folder up, at the tree's root),
// or empty when it is not built.
std::wstring builtProgram(const std::wstring& name);

}  // namespace norvale::testing
