// The SetupAPI enumerator under Wine: with no flash-mode interface, and with one the test
// registers in Wine's device registry (a device without a driver, so it can't be opened).
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <atomic>
#include <cstddef>
#include <thread>

#include "platform/win32/Win32InterfaceEnumerator.h"
#include "platform/win32/Win32RemovalWatch.h"
#include "presence/RemovalKeyPath.h"

namespace norvale {
namespace {

constexpr char kTestInstance[] = "ROOT\\NORVALETEST\\0000";
constexpr char kTestDevicePath[] =
    "\\\\?\\root#norvaletest#0000#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";

// Removes the test's device and with it its interface, left over or not.
void removeTestDevice() {
    const HDEVINFO set = ::SetupDiCreateDeviceInfoList(&kFlashInterfaceClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (::SetupDiOpenDeviceInfoA(set, kTestInstance, nullptr, 0, &device)) {
        ::SetupDiRemoveDevice(set, &device);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, removalKeyPath(kTestDevicePath).c_str());
}

void setLinked(DWORD linked) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, removalKeyPath(kTestDevicePath).c_str(), 0,
                                nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExA(key, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked),
                     sizeof(linked));
    ::RegCloseKey(key);
}

TEST(Win32InterfaceEnumeratorTest, FindsNoMemberWhenNoPhoneIsAttached) {
    removeTestDevice();
    Win32InterfaceEnumerator interfaces;
    for (int round = 0; round < 3; ++round) {  // sets are given back and taken again cleanly
        const DeviceSet set = interfaces.openSet();
        if (!set.valid()) continue;  // a set that can't be had is a clean failure too
        EXPECT_FALSE(interfaces.member(set, 0));
        EXPECT_FALSE(interfaces.member(set, 1));
        // A member it never handed out has no detail.
        EXPECT_FALSE(interfaces.detailSize(set, InterfaceRef{set.bits, 0}).sizeKnown);
        EXPECT_FALSE(interfaces.devicePath(set, InterfaceRef{set.bits, 0}, 256));
        interfaces.closeSet(set);
    }
}

TEST(Win32InterfaceEnumeratorTest, OpeningAPathWithNoDeviceYieldsTheInvalidHandle) {
    Win32InterfaceEnumerator interfaces;
    const DeviceHandle device = interfaces.open(kTestDevicePath);
    EXPECT_EQ(device, kInvalidDevice);
    interfaces.close(device);  // closing nothing is harmless
    EXPECT_EQ(interfaces.open(""), kInvalidDevice);
}

// The device is opened without sharing: while one session holds it, no second program (nor a
// second open here) can talk to the phone. A file stands in for the device's path.
TEST(Win32InterfaceEnumeratorTest, APhoneOpenedOnceCantBeOpenedAgainUntilClosed) {
    char folder[MAX_PATH] = {};
    char path[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathA(MAX_PATH, folder), 0u);
    ASSERT_NE(::GetTempFileNameA(folder, "nvd", 0, path), 0u);
    Win32InterfaceEnumerator interfaces;
    const DeviceHandle first = interfaces.open(path);
    ASSERT_NE(first, kInvalidDevice);
    EXPECT_EQ(interfaces.open(path), kInvalidDevice);
    interfaces.close(first);
    const DeviceHandle again = interfaces.open(path);
    EXPECT_NE(again, kInvalidDevice);
    if (again != kInvalidDevice) interfaces.close(again);
    ::DeleteFileA(path);
}

class Win32RegisteredInterfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        removeTestDevice();
        set_ = ::SetupDiCreateDeviceInfoList(&kFlashInterfaceClass, nullptr);
        ASSERT_NE(set_, INVALID_HANDLE_VALUE);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        ASSERT_TRUE(::SetupDiCreateDeviceInfoA(set_, kTestInstance, &kFlashInterfaceClass, nullptr,
                                               nullptr, 0, &device));
        ASSERT_TRUE(::SetupDiRegisterDeviceInfo(set_, &device, 0, nullptr, nullptr, nullptr));
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof(iface);
        ASSERT_TRUE(::SetupDiCreateDeviceInterfaceA(set_, &device, &kFlashInterfaceClass, nullptr,
                                                    0, &iface));
        // An interface counts as present once its Control key says it is linked.
        setLinked(1);
    }
    void TearDown() override {
        if (set_ != INVALID_HANDLE_VALUE) ::SetupDiDestroyDeviceInfoList(set_);
        removeTestDevice();
    }

    HDEVINFO set_ = INVALID_HANDLE_VALUE;
};

TEST_F(Win32RegisteredInterfaceTest, WalksThePresentInterfaceStepByStep) {
    Win32InterfaceEnumerator interfaces;
    const DeviceSet set = interfaces.openSet();
    ASSERT_TRUE(set.valid());
    const auto member = interfaces.member(set, 0);
    ASSERT_TRUE(member);
    EXPECT_FALSE(interfaces.member(set, 1));

    const DetailSizeResult size = interfaces.detailSize(set, *member);
    EXPECT_TRUE(size.sizeKnown);
    EXPECT_EQ(size.lastError, kErrorInsufficientBuffer);
    EXPECT_EQ(size.requiredSize,
              offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + sizeof(kTestDevicePath));

    EXPECT_EQ(interfaces.devicePath(set, *member, size.requiredSize), kTestDevicePath);
    EXPECT_FALSE(interfaces.devicePath(set, *member, size.requiredSize - 1));
    EXPECT_FALSE(interfaces.devicePath(set, *member, 2));  // no room even for cbSize

    // No driver stands behind the interface, so it can't be opened: the finder skips it.
    EXPECT_EQ(interfaces.open(kTestDevicePath), kInvalidDevice);
    interfaces.closeSet(set);

    // Closing the set drops its members: the same reference means nothing to a later set.
    const DeviceSet later = interfaces.openSet();
    ASSERT_TRUE(later.valid());
    if (later.bits == set.bits) {
        EXPECT_FALSE(interfaces.detailSize(later, *member).sizeKnown);
    }
    interfaces.closeSet(later);
}

TEST_F(Win32RegisteredInterfaceTest, TheRemovalWatchOnItsKeyReturnsWhenItIsUnlinked) {
    Win32RemovalWatch watch;  // HKEY_LOCAL_MACHINE, as the program watches
    std::atomic<bool> returned{false};
    bool changed = false;
    std::thread watcher([&] {
        changed = watch.waitForChange(removalKeyPath(kTestDevicePath), {});
        returned = true;
    });
    ::Sleep(300);
    EXPECT_FALSE(returned);
    for (int i = 0; !returned && i < 100; ++i) {
        setLinked(0);  // what the system does to the key when the device goes away
        ::Sleep(50);
    }
    if (!returned) removeTestDevice();
    watcher.join();
    EXPECT_TRUE(changed);

    Win32InterfaceEnumerator interfaces;
    const DeviceSet set = interfaces.openSet();
    if (set.valid()) {
        EXPECT_FALSE(interfaces.member(set, 0));  // no longer present
        interfaces.closeSet(set);
    }
}

}  // namespace
}  // namespace norvale
