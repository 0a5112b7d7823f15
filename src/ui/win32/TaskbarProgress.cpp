// The taskbar button's progress bar: made on first use, normal while shown, cleared at the end.
#include "ui/win32/TaskbarProgress.h"

#include <objbase.h>

namespace norvale {

UniqueTaskbarList connectSystemTaskbar() {
    // The process ends with ExitProcess while the dialog is still up, so COM is never torn down
    // here. A thread already in another apartment still gets the object.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(com) && com != RPC_E_CHANGED_MODE) return {};
    UniqueTaskbarList taskbar;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(taskbar.put())))) {
        return {};
    }
    return taskbar;
}

ITaskbarList3* TaskbarProgress::taskbar() {
    if (!connectTried_) {
        connectTried_ = true;
        if (connect_) taskbar_ = connect_();
        // The object is usable only once HrInit has succeeded.
        if (taskbar_ && FAILED(taskbar_.get()->HrInit())) taskbar_.reset();
    }
    return taskbar_.get();
}

void TaskbarProgress::show(HWND window, ULONGLONG done, ULONGLONG total, bool failed) {
    ITaskbarList3* const bar = taskbar();
    if (bar == nullptr) return;
    if (!showing_ || failed != failed_) {
        showing_ = true;
        failed_ = failed;
        bar->SetProgressState(window, failed ? TBPF_ERROR : TBPF_NORMAL);
    }
    bar->SetProgressValue(window, done, total);
}

void TaskbarProgress::end(HWND window) {
    if (!showing_) return;
    showing_ = false;
    if (ITaskbarList3* const bar = taskbar()) bar->SetProgressState(window, TBPF_NOPROGRESS);
}

}  // namespace norvale
