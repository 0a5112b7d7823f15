// The boot version, mode and CG1 lines of an arrival, from the phone's replies and KESTRIN.ini.
#include <gtest/gtest.h>

#include <memory>

#include "integration/PresenceRig.h"
#include "presence/PhoneInfo.h"

namespace norvale {
namespace {

using namespace presence_testing;

std::string hexOf(std::string_view bytes) {
    return SimTrace::hex({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

class PhoneInfoTest : public ::testing::Test {
protected:
    PhoneInfoTest() : rig(SimPlatform::Phone::none) {}

    // A phone like the default one but for `options`, opened as the session's device.
    SimInterfaceId attachAndOpen(SimPhoneOptions options = {}) {
        const SimInterfaceId id = rig.sim.driver.attach({}, std::make_shared<SimPhone>(options));
        const DeviceHandle handle = rig.sim.driver.open(rig.sim.driver.devicePathOf(id));
        rig.state.device.store(std::make_shared<const OpenDevice>(handle, rig.sim.driver));
        return id;
    }

    // The lines readPhoneInfo logs, and no file left open.
    std::vector<std::string> run() {
        rig.view.clear();
        readPhoneInfo(rig.services);
        EXPECT_EQ(rig.sim.files.liveFiles(), 0u);
        return rig.view.entries();
    }

    static std::vector<std::string> lines(std::string_view boot, std::string_view mode) {
        return {logAt(0, line(text::kBootVersion, boot)), logAt(0, line(text::kMode, mode))};
    }
    static std::vector<std::string> lines(std::string_view boot, std::string_view mode,
                                          std::string_view cg1) {
        auto all = lines(boot, mode);
        all.push_back(logAt(0, line(text::kCg1Start, cg1)));
        return all;
    }

    PresenceRig rig;
};

TEST_F(PhoneInfoTest, AsksWithoutWaitingAndLogsTheFieldsOfBothRepliesAndTheCg1Start) {
    attachAndOpen();
    rig.folder.put("KESTRIN.ini", "CG1ADR=100A0000\r\n;;;");  // 20 bytes

    EXPECT_EQ(run(), lines("0C60", "FLASH ", "100A0000"));
    EXPECT_EQ(rig.sim.driver.trace(),
              (std::vector<std::string>{
                  "W 2 025251485703",
                  "R 2 32 " + hexOf("\x02RQHW\x1eLTE2 BOOT V=0C60 SIM 0001\x03"),
                  "W 2 02454e554d03",
                  "R 2 256 " + hexOf("\x02"
                                     "ENUM\x1e"
                                     "FLASH \x03"),
              }));

    // Neither exchange waits: a phone that never answers costs no time at all.
    for (std::uint64_t transfer = 5; transfer <= 8; ++transfer) {
        rig.sim.driver.addFault(SimFaultKind::hang, transfer);
    }
    EXPECT_EQ(run(), lines("", "", "100A0000"));
    EXPECT_EQ(rig.sim.clock.now(), 0u);
}

TEST_F(PhoneInfoTest, FieldsEndAtTheReplysEndOrAtAZeroByte) {
    struct Case {
        SimPhoneOptions phone;
        std::string boot;
        std::string mode;
    };
    const Case cases[] = {
        {{"0C60", 21, {}}, "0C6", "FLASH "},
        {{"0C60", 20, {}}, "0C", "FLASH "},
        {{"0C60", 18, {}}, "", "FLASH "},
        {{"0C60", 0, {}}, "", "FLASH "},
        {{std::string("0\0"
                      "60",
                      4),
          32, std::string("FL\0ASH", 6)},
         "0",
         "FL"},
        {{"0C60", 32, std::string("\0LASH ", 6)}, "0C60", ""},
    };
    for (const Case& c : cases) {
        attachAndOpen(c.phone);
        EXPECT_EQ(run(), lines(c.boot, c.mode)) << c.boot << '/' << c.mode;
    }
}

TEST_F(PhoneInfoTest, WithoutAnOpenInterfaceBothLinesAreEmptyAndNothingWaits) {
    rig.state.device.store(std::make_shared<const OpenDevice>(kInvalidDevice, rig.sim.driver));
    rig.folder.put("KESTRIN.ini", "CG1ADR=10000000");
    EXPECT_EQ(run(), lines("", "", "10000000"));
    EXPECT_EQ(rig.sim.driver.trace(),
              (std::vector<std::string>{"W 2 025251485703 FAIL", "R 2 32 FAIL",
                                        "W 2 02454e554d03 FAIL", "R 2 256 FAIL"}));
    EXPECT_EQ(rig.sim.clock.now(), 0u);

    rig.state.device.store(nullptr);  // before the first arrival
    EXPECT_EQ(run(), lines("", "", "10000000"));
}

TEST_F(PhoneInfoTest, TheCg1TextIsTheFilesBytesSevenToFourteenAsFarAsTheyGo) {
    attachAndOpen();
    struct Case {
        std::string file;
        std::string cg1;
    };
    const Case cases[] = {
        {"CG1ADR=100", "100"},  // 10 bytes
        {"CG1ADR=", ""},        // 7 bytes: the line with nothing in it
        {"CG1", ""},
        {std::string("CG1ADR=10\0"
                     "A0000",
                     15),
         "10"},
        {"CG1ADR=1000a000 and more", "1000a000"},  // shown as it stands, unchecked
    };
    for (const Case& c : cases) {
        rig.folder.put("KESTRIN.ini", c.file);
        EXPECT_EQ(run(), lines("0C60", "FLASH ", c.cg1)) << c.file;
    }
}

TEST_F(PhoneInfoTest, AConfigurationFileThatCantBeReadGivesNoCg1Line) {
    attachAndOpen();
    EXPECT_EQ(run(), lines("0C60", "FLASH "));  // missing

    rig.folder.put("KESTRIN.ini", "");
    EXPECT_EQ(run(), lines("0C60", "FLASH "));

    rig.folder.put("KESTRIN.ini", "CG1ADR=100A0000");
    rig.sim.files.failOpening(".\\KESTRIN.ini", FileError::sharingViolation);
    EXPECT_EQ(run(), lines("0C60", "FLASH "));
    rig.sim.files.clearFaults();

    rig.sim.files.reportSize(".\\KESTRIN.ini", 64);  // the read then comes up short
    EXPECT_EQ(run(), lines("0C60", "FLASH "));
    rig.sim.files.clearFaults();
}

TEST_F(PhoneInfoTest, AReadOnlyConfigurationFileStillGivesItsLine) {
    attachAndOpen();
    rig.folder.put("KESTRIN.ini", "CG1ADR=100A0000");
    std::filesystem::permissions("KESTRIN.ini", std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::group_read |
                                                    std::filesystem::perms::others_read);
    EXPECT_EQ(run(), lines("0C60", "FLASH ", "100A0000"));
}

}  // namespace
}  // namespace norvale
