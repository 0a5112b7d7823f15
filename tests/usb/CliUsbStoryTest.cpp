// norvale-cli over real libusb against the emulated phone: the same run as against the simulated
// driver road puts the same data bytes on the bulk OUT endpoint and prints the same lines.
#include <gtest/gtest.h>

#include "EmulatedPhone.h"
#include "integration/CliRig.h"
#include "integration/StrictBusStories.h"
#include "platform/libusb/LibusbPort.h"

namespace norvale::usb_testing {
namespace {

using norvale::testing::CliRig;
using norvale::testing::fileBytes;
using norvale::testing::patternImage;
using norvale::testing::putFile;

const std::vector<std::string> kArgs{"write", "pds", "new-pds.bin", "read",
                                     "pds",   "-o",  "back.bin"};

TEST(CliUsbStory, WritePdsWithVerifyThenReadItBackIsTheDriverRoadsRunOnTheBulkEndpoints) {
    const Bytes image = patternImage(0x10000, 0x6B);

    std::vector<std::string> driverWrites;
    std::string driverOut;
    {
        CliRig rig;
        putFile("new-pds.bin", image);
        const auto result = rig.run(kArgs);
        ASSERT_EQ(result.code, 0) << result.err;
        driverOut = result.out;
        for (const std::string& line : rig.driver.trace()) {
            if (line.starts_with("W 2 ")) driverWrites.push_back(line.substr(4));
        }
    }
    ASSERT_FALSE(driverWrites.empty());

    ASSERT_TRUE(underUmockdevWrapper()) << "run the suite under umockdev-wrapper";
    EmulatedPhone phone;
    LibusbPort port;
    ASSERT_TRUE(port.available());
    CliRig rig;
    rig.driver.detach(rig.phoneId);  // no phone behind the maker's driver: only the USB road
    rig.usbPort = &port;
    putFile("new-pds.bin", image);
    const auto result = rig.run(kArgs);
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, driverOut);
    EXPECT_NE(result.out.find("Verifying the written data\nSuccess\n"), std::string::npos)
        << result.out;
    norvale::testing::expectTranscript(phone.writes(), driverWrites);
    EXPECT_EQ(phone.withPhone([](const SimPhone& p) { return p.readFlash(0x10010000, 0x10000); }),
              image);
    EXPECT_EQ(fileBytes("back.bin"), image);
    EXPECT_FALSE(std::filesystem::exists("back.bin.part"));
}

// A phone another program holds is told as such, and nothing is sent to it.
TEST(CliUsbStory, APhoneAnotherProgramHoldsIsToldAsInUse) {
    ASSERT_TRUE(underUmockdevWrapper()) << "run the suite under umockdev-wrapper";
    EmulatedPhone phone;
    phone.heldElsewhere(true);
    LibusbPort port;
    CliRig rig;
    rig.driver.detach(rig.phoneId);
    rig.usbPort = &port;
    const auto result = rig.run({"info"});
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.err.find("the phone 1-1.3 is in use by another program"), std::string::npos)
        << result.err;
    EXPECT_TRUE(phone.writes().empty());
}

// A phone whose node this user may not open (no udev rule for it, or a user away from the seat):
// told what to do, and nothing is sent to it.
TEST(CliUsbStory, APhoneThisUserMayNotOpenIsToldWithWhatToDo) {
    ASSERT_TRUE(underUmockdevWrapper()) << "run the suite under umockdev-wrapper";
    EmulatedPhone phone;
    LibusbPort port;
    CliRig rig;
    rig.driver.detach(rig.phoneId);
    rig.usbPort = &port;
    phone.refuseOpen(true);
    const auto result = rig.run({"info"});
    phone.refuseOpen(false);
    EXPECT_EQ(result.code, 2);
    EXPECT_EQ(
        result.err,
        "ERROR - no permission to open the phone 1-1.3: the udev rule is needed, and a user "
        "not at the seat needs the plugdev group, see \"Permissions\" in norvale-cli --help\n");
    EXPECT_TRUE(phone.writes().empty());
}

// The same stories against a phone held to the bus's rules, with and without the zero-length
// packet after a reply of whole packets.
class CliUsbStrictBus : public ::testing::TestWithParam<bool> {};

TEST_P(CliUsbStrictBus, ReadsAVerifiedWriteAndARegionReadAskForWhatIsOwed) {
    ASSERT_TRUE(underUmockdevWrapper()) << "run the suite under umockdev-wrapper";
    EmulatedPhone phone;
    phone.sendZeroLengthAfterWhole(GetParam());
    LibusbPort port;
    ASSERT_TRUE(port.available());
    CliRig rig;
    rig.driver.detach(rig.phoneId);
    rig.usbPort = &port;
    const norvale::testing::InTransferSizes sizes = [&] { return phone.inUrbSizes(); };
    norvale::testing::tellOwedReads(rig, GetParam(), sizes);
    norvale::testing::tellVerifiedWriteAndRegionRead(rig, GetParam(), sizes);
    EXPECT_EQ(phone.withPhone([](const SimPhone& p) { return p.readFlash(0x10010000, 0x10000); }),
              patternImage(0x10000, 0x5D));
}

INSTANTIATE_TEST_SUITE_P(ZeroLengthPacket, CliUsbStrictBus, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "AfterWholePackets" : "Never";
                         });

}  // namespace
}  // namespace norvale::usb_testing
