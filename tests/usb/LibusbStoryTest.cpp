// The operator's stories over real libusb against the emulated phone: the bulk OUT endpoint gets
// exactly the data bytes that the driver road hands the driver, and the log says the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "EmulatedPhone.h"
#include "StoryRig.h"
#include "platform/libusb/LibusbPort.h"
#include "ui/CommandBodies.h"

namespace norvale::usb_testing {
namespace {

using norvale::testing::fileBytes;
using norvale::testing::patternImage;

Bytes erasedFlash(std::uint32_t address, std::size_t count) {
    return SimPhone::erasedFlashOf(1, address, count);
}

struct Story {
    const char* name;
    std::function<void(StoryRig&)> steps;
};

const CommandBodies kBodies = productCommandBodies();

const Story kStories[] = {
    {"Arrival", [](StoryRig& rig) { rig.arrive(); }},
    {"ReadPds",
     [](StoryRig& rig) {
         rig.arrive();
         rig.fields("10010000", "1001FFFF");
         rig.click(kBodies.readRangeToFile);
         EXPECT_EQ(fileBytes("PDS.bin"), erasedFlash(0x10010000, 0x10000));
     }},
    {"WritePds",
     [](StoryRig& rig) {
         rig.arrive();
         rig.pickImage("pds.img", patternImage(0x10000, 21));
         rig.click(kBodies.writePds);
     }},
    {"RoundTrip",
     [](StoryRig& rig) {
         rig.arrive();
         const Bytes pds = patternImage(0x10000, 31);
         rig.pickImage("pds.img", pds);
         rig.click(kBodies.writePds);
         rig.fields("10010000", "1001FFFF");
         rig.click(kBodies.readRangeToFile);
         EXPECT_EQ(fileBytes("PDS.bin"), pds);
     }},
    {"BlockRange",
     [](StoryRig& rig) {
         rig.arrive();
         rig.fields("10040000", "1005FFFF");
         rig.pickImage("cg3-part.img", patternImage(0x20000, 24));
         rig.click(kBodies.writeBlockRange);
     }},
    {"Start",
     [](StoryRig& rig) {
         rig.arrive();
         rig.click(kBodies.startPhone);
         EXPECT_FALSE(rig.phoneStays(std::chrono::milliseconds(1000)));
     }},
    {"Blank",
     [](StoryRig& rig) {
         rig.arrive();
         rig.click(kBodies.setBlankMode);
     }},
};

class UsbStory : public ::testing::TestWithParam<Story> {};

TEST_P(UsbStory, PutsTheDriverRoadsDataOnTheBulkEndpointAndLogsTheSameLines) {
    const Story& story = GetParam();
    std::vector<std::string> driverWrites;
    std::vector<std::string> driverLog;
    {
        StoryRig rig;
        story.steps(rig);
        driverWrites = rig.driverWrites();
        driverLog = rig.log.lines();
    }
    ASSERT_FALSE(driverWrites.empty());

    ASSERT_TRUE(underUmockdevWrapper()) << "run the suite under umockdev-wrapper";
    EmulatedPhone phone;
    LibusbPort port;
    ASSERT_TRUE(port.available());
    std::vector<std::string> usbLog;
    {
        StoryRig rig(&port);
        story.steps(rig);
        usbLog = rig.log.lines();
    }
    norvale::testing::expectTranscript(phone.writes(), driverWrites);
    EXPECT_EQ(usbLog, driverLog);
    // The interface was claimed with its kernel driver taken off it and given back at the end;
    // no zero-length packet followed a write of whole packets, and only the two bulk endpoints
    // the descriptors name were used.
    const std::vector<std::string> requests = phone.requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "detach-and-claim 0"), 1);
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "zero-packet"), 0);
    EXPECT_TRUE(std::none_of(requests.begin(), requests.end(), [](const std::string& request) {
        return request.starts_with("endpoint") || request.starts_with("unknown");
    })) << ::testing::PrintToString(requests);
}

INSTANTIATE_TEST_SUITE_P(Stories, UsbStory, ::testing::ValuesIn(kStories),
                         [](const ::testing::TestParamInfo<Story>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace norvale::usb_testing
