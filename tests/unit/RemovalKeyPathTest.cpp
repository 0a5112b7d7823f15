// The watched registry key's path, built from a device path of any length.
#include <gtest/gtest.h>

#include <string>

#include "presence/RemovalKeyPath.h"

namespace norvale {
namespace {

const std::string kClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{4e1e1e15-52d7-11d4-852d-00105aa6f80b}\\";

TEST(RemovalKeyPath, TurnsTheDevicePathIntoTheNameTheSystemKeepsTheInterfaceUnder) {
    const std::string devicePath =
        "\\\\?\\usb#vid_22b8&pid_4903#5&2d1bb4b6&0&1#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";
    EXPECT_EQ(removalKeyPath(devicePath),
              kClassKey +
                  "##?#usb#vid_22b8&pid_4903#5&2d1bb4b6&0&1#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}"
                  "\\#\\Control");
    // The third character is not one of the replaced ones.
    EXPECT_EQ(removalKeyPath("abcdef"), kClassKey + "##c#ef\\#\\Control");
}

TEST(RemovalKeyPath, AnyLengthFitsWithNothingCut) {
    const std::string longTail(600, 'x');
    EXPECT_EQ(removalKeyPath("\\\\?\\" + longTail), kClassKey + "##?#" + longTail + "\\#\\Control");
}

TEST(RemovalKeyPath, APathTooShortForTheReplacedCharactersIsKeptAndTheSuffixUntouched) {
    EXPECT_EQ(removalKeyPath(""), kClassKey + "\\#\\Control");
    EXPECT_EQ(removalKeyPath("\\\\?"), kClassKey + "\\\\?\\#\\Control");
    EXPECT_EQ(removalKeyPath("\\\\?\\"), kClassKey + "##?#\\#\\Control");
}

}  // namespace
}  // namespace norvale
