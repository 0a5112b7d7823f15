// The taskbar button's progress: the ITaskbarList3 calls it makes, on which thread and window,
// and what the dialog view leaves out.
#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/win32/TaskbarProgress.h"
#include "win32/DialogHarness.h"

namespace norvale {
namespace {

using testing::DialogHarness;
using Calls = std::vector<std::string>;

// Stands in for the shell's taskbar object: records the calls that matter, with the window and
// thread they came on; every other method is refused.
class FakeTaskbar final : public ITaskbarList3 {
public:
    // ITaskbarList3.
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND window, ULONGLONG done,
                                               ULONGLONG total) override {
        record(window, "value " + std::to_string(done) + "/" + std::to_string(total));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND window, TBPFLAG flags) override {
        record(window, "state " + std::to_string(static_cast<int>(flags)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE HrInit() override {
        record(nullptr, "init");
        return failInit ? E_FAIL : S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return E_NOTIMPL; }

    // What the view's connector hands out: one reference, given back by the owner.
    TaskbarConnector connector() {
        return [this] {
            ++connects_;
            AddRef();
            return UniqueTaskbarList(this);
        };
    }

    Calls calls() const {
        const std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<HWND> windows() const {
        const std::lock_guard lock(mutex_);
        return windows_;
    }
    std::vector<DWORD> threads() const {
        const std::lock_guard lock(mutex_);
        return threads_;
    }
    int connects() const { return connects_; }
    bool failInit = false;
    ULONG references() const { return references_; }

private:
    void record(HWND window, std::string call) {
        const std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
        if (window != nullptr) windows_.push_back(window);
        threads_.push_back(GetCurrentThreadId());
    }

    mutable std::mutex mutex_;
    Calls calls_;
    std::vector<HWND> windows_;
    std::vector<DWORD> threads_;
    int connects_ = 0;
    ULONG references_ = 0;
};

const std::string kNormal = "state " + std::to_string(TBPF_NORMAL);
const std::string kNoProgress = "state " + std::to_string(TBPF_NOPROGRESS);

TEST(TaskbarProgress, ShowsNormalProgressWithItsValuesAndClearsItAtTheEnd) {
    FakeTaskbar fake;
    {
        TaskbarProgress progress(fake.connector());
        const HWND window = GetDesktopWindow();
        progress.end(window);  // nothing shown yet: nothing to clear, nothing made
        EXPECT_EQ(fake.connects(), 0);

        progress.show(window, 0, 65536);
        progress.show(window, 4096, 65536);
        progress.show(window, 65536, 65536);
        progress.end(window);
        progress.end(window);
        progress.show(window, 1, 9);  // the next command starts over
        progress.end(window);

        EXPECT_EQ(fake.calls(),
                  (Calls{"init", kNormal, "value 0/65536", "value 4096/65536", "value 65536/65536",
                         kNoProgress, kNormal, "value 1/9", kNoProgress}));
        EXPECT_EQ(fake.windows(), std::vector<HWND>(8, window));
        EXPECT_EQ(fake.connects(), 1);
        EXPECT_EQ(fake.references(), 1u);
    }
    EXPECT_EQ(fake.references(), 0u) << "the taskbar object is given back";
}

TEST(TaskbarProgress, WithoutAUsableTaskbarObjectNothingIsShownAndNoSecondTryIsMade) {
    int tries = 0;
    TaskbarProgress none([&tries] {
        ++tries;
        return UniqueTaskbarList();
    });
    none.show(GetDesktopWindow(), 1, 2);
    none.show(GetDesktopWindow(), 2, 2);
    none.end(GetDesktopWindow());
    EXPECT_EQ(tries, 1);

    FakeTaskbar refusing;
    refusing.failInit = true;
    {
        TaskbarProgress progress(refusing.connector());
        progress.show(GetDesktopWindow(), 1, 2);
        progress.show(GetDesktopWindow(), 2, 2);
        progress.end(GetDesktopWindow());
        EXPECT_EQ(refusing.references(), 0u) << "an object that failed HrInit is given back";
    }
    EXPECT_EQ(refusing.calls(), Calls{"init"});
    EXPECT_EQ(refusing.connects(), 1);
}

// A worker's progress goes to the dialog's own window on the UI thread; calls that would not
// move the bar by a visible step send nothing; the log and the status bar stay as they were.
TEST(TaskbarProgress, TheDialogViewShowsAWorkersProgressOnTheUiThreadAndSkipsIdleSteps) {
    FakeTaskbar fake;
    DialogHarness ui;
    ui.view.setTaskbarConnector(fake.connector());

    std::thread worker([&ui] {
        ui.view.endProgress();  // nothing shown: nothing sent
        ui.view.showProgress(0, 65536);
        ui.view.showProgress(4096, 65536);
        ui.view.showProgress(4100, 65536);  // the same thousandth as 4096
        ui.view.showProgress(8192, 65536);
        ui.view.showProgress(65536, 65536);
        ui.view.endProgress();
        ui.view.endProgress();
        ui.view.showProgress(0, 0x2001);
        ui.view.showProgress(1, 0x2001);  // less than a thousandth
        ui.view.showProgress(0x2001, 0x2001);
        ui.view.endProgress();
    });
    worker.join();

    EXPECT_EQ(fake.calls(), (Calls{"init", kNormal, "value 0/65536", "value 4096/65536",
                                   "value 8192/65536", "value 65536/65536", kNoProgress, kNormal,
                                   "value 0/8193", "value 8193/8193", kNoProgress}));
    EXPECT_EQ(fake.windows(), std::vector<HWND>(10, ui.dialog));
    EXPECT_EQ(fake.threads(), std::vector<DWORD>(11, ui.uiThread));

    EXPECT_EQ(ui.logText(), L"");
    wchar_t status[32] = {};
    SendMessageW(ui.item(1018), SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(status));
    EXPECT_STREQ(status, L"Не подключен");
}

}  // namespace
}  // namespace norvale
