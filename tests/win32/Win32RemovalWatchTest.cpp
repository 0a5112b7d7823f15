// The registry removal watch on keys the test makes under HKEY_CURRENT_USER.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/StopSignal.h"
#include "platform/win32/Win32RemovalWatch.h"

namespace norvale {
namespace {

class Win32RemovalWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = "Software\\NorvaleTest\\" + std::to_string(::GetCurrentProcessId());
        path_ = base_ + "\\##?#USB#VID_22B8&PID_4903#5&1#{4e1e1e15}\\#\\Control";
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
    }
    void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str()); }

    // Runs the watch on its own thread, checks that it is still blocked after a while, then
    // makes `change` (again and again, so a change made before the watch was armed can't hang
    // the test) until the watch returns.
    template <typename Change>
    bool watchThrough(Change change) {
        Win32RemovalWatch watch(HKEY_CURRENT_USER);
        std::atomic<bool> returned{false};
        bool result = false;
        std::thread watcher([&] {
            result = watch.waitForChange(path_, {});
            returned = true;
        });
        ::Sleep(300);
        blockedBeforeChange_ = !returned;
        for (int i = 0; !returned && i < 100; ++i) {
            change(i);
            ::Sleep(50);
        }
        if (!returned) {
            // Give it something it can't miss so the thread ends.
            ::RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
        }
        watcher.join();
        return result;
    }

    std::string base_;
    std::string path_;
    bool blockedBeforeChange_ = false;
};

TEST_F(Win32RemovalWatchTest, ReturnsOnceAValueIsSetInTheKey) {
    const bool changed = watchThrough([&](int i) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_SET_VALUE, &key),
                  ERROR_SUCCESS);
        const DWORD value = static_cast<DWORD>(i);
        ::RegSetValueExA(key, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof(value));
        ::RegCloseKey(key);
    });
    EXPECT_TRUE(blockedBeforeChange_);
    EXPECT_TRUE(changed);
}

TEST_F(Win32RemovalWatchTest, ReturnsOnceASubkeyAppearsBelowTheKey) {
    const bool changed = watchThrough([&](int i) {
        const std::string below = path_ + "\\Sub\\Deeper" + std::to_string(i);
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, below.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
    });
    EXPECT_TRUE(blockedBeforeChange_);
    EXPECT_TRUE(changed);
}

// Its owner's stop ends the wait at once with false while the key stays as it was, so the owner
// can join the waiting thread; a stop asked for before the wait ends it before it waits.
TEST_F(Win32RemovalWatchTest, AStopEndsTheWaitWithoutAChange) {
    Win32RemovalWatch watch(HKEY_CURRENT_USER);
    StopSource stop;
    std::atomic<bool> returned{false};
    bool result = true;
    std::thread watcher([&] {
        result = watch.waitForChange(path_, stop.token());
        returned = true;
    });
    ::Sleep(300);
    EXPECT_FALSE(returned);
    const ULONGLONG asked = ::GetTickCount64();
    stop.requestStop();
    watcher.join();
    EXPECT_LT(::GetTickCount64() - asked, 1000u);
    EXPECT_FALSE(result);

    const ULONGLONG again = ::GetTickCount64();
    EXPECT_FALSE(watch.waitForChange(path_, stop.token()));
    EXPECT_LT(::GetTickCount64() - again, 1000u);
}

TEST_F(Win32RemovalWatchTest, AKeyThatCantBeOpenedFailsAtOnce) {
    Win32RemovalWatch watch(HKEY_CURRENT_USER);
    Win32RemovalWatch machineWatch;  // HKEY_LOCAL_MACHINE, as the program uses it
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(watch.waitForChange(base_ + "\\NoSuchInterface\\#\\Control", {}));
    EXPECT_FALSE(machineWatch.waitForChange(
        "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\"
        "{4e1e1e15-52d7-11d4-852d-00105aa6f80b}\\##?#USB#NoSuchPhone\\#\\Control",
        {}));
    EXPECT_LT(::GetTickCount64() - start, 1000u);
}

}  // namespace
}  // namespace norvale
