// The progress bar on the program's taskbar button, over ITaskbarList3.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <functional>
#include <utility>

#include "platform/win32/Win32Handles.h"

namespace norvale {

// A COM interface pointer given back with Release(), as the handle owners give back theirs.
struct TaskbarListTraits {
    using Value = ITaskbarList3*;
    static Value invalid() { return nullptr; }
    static void close(Value value) { value->Release(); }
};
using UniqueTaskbarList = UniqueResource<TaskbarListTraits>;

// Makes the taskbar object on the calling thread; an empty owner when there is none.
using TaskbarConnector = std::function<UniqueTaskbarList()>;

// The shell's own: COM on the calling thread (single-threaded apartment), then
// CoCreateInstance(CLSID_TaskbarList).
UniqueTaskbarList connectSystemTaskbar();

// UI thread only. The taskbar object is made and initialised (HrInit) at the first show(), when
// the dialog's button is surely on the taskbar; if that fails (an old Windows, a shell without a
// taskbar) progress is simply not shown, and it is not tried again.
class TaskbarProgress {
public:
    explicit TaskbarProgress(TaskbarConnector connect = connectSystemTaskbar)
        : connect_(std::move(connect)) {}

    // The connector the first show() uses; for tests, before any show().
    void setConnector(TaskbarConnector connect) { connect_ = std::move(connect); }

    // `failed` turns the bar red (TBPF_ERROR) while it shows; the state is set only when it
    // changes, the value every time.
    void show(HWND window, ULONGLONG done, ULONGLONG total, bool failed = false);
    void end(HWND window);

private:
    ITaskbarList3* taskbar();

    TaskbarConnector connect_;
    bool connectTried_ = false;
    bool showing_ = false;
    bool failed_ = false;
    UniqueTaskbarList taskbar_;
};

}  // namespace norvale
