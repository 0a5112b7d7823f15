// The SetupAPI enumerator under Wine, where no flash-mode phone is ever attached.
#include <gtest/gtest.h>

#include "platform/win32/Win32InterfaceEnumerator.h"

namespace norvale {
namespace {

TEST(Win32InterfaceEnumeratorTest, FindsNoMemberWhenNoPhoneIsAttached) {
    Win32InterfaceEnumerator interfaces;
    for (int round = 0; round < 3; ++round) {  // sets are given back and taken again cleanly
        const DeviceSet set = interfaces.openSet();
        if (!set.valid()) continue;  // a set that can't be had is a clean failure too
        EXPECT_FALSE(interfaces.member(set, 0));
        EXPECT_FALSE(interfaces.member(set, 1));
        interfaces.closeSet(set);
    }
}

TEST(Win32InterfaceEnumeratorTest, RefusesMembersItNeverHandedOut) {
    Win32InterfaceEnumerator interfaces;
    const DeviceSet set = interfaces.openSet();
    if (!set.valid()) GTEST_SKIP() << "no device information set under this Wine";
    const InterfaceRef never{set.bits, 0};
    const DetailSizeResult size = interfaces.detailSize(set, never);
    EXPECT_FALSE(size.sizeKnown);
    EXPECT_FALSE(interfaces.devicePath(set, never, 256));
    interfaces.closeSet(set);
}

TEST(Win32InterfaceEnumeratorTest, OpeningAPathWithNoDeviceYieldsTheInvalidHandle) {
    Win32InterfaceEnumerator interfaces;
    const DeviceHandle device = interfaces.open(
        "\\\\?\\usb#vid_22b8&pid_4903#0#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}");
    EXPECT_EQ(device, kInvalidDevice);
    interfaces.close(device);  // closing nothing is harmless
    EXPECT_EQ(interfaces.open(""), kInvalidDevice);
}

}  // namespace
}  // namespace norvale
