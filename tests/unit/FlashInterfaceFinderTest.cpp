// The interface walk against the simulated driver: which member is taken, and what is left open.
#include <gtest/gtest.h>

#include <string>

#include "presence/FlashInterfaceFinder.h"
#include "protocol/DriverPhoneLink.h"
#include "sim/SimDriver.h"
#include "sim/VirtualClock.h"

namespace norvale {
namespace {

class FlashInterfaceFinderTest : public ::testing::Test {
protected:
    SimInterfaceId attach(std::string manufacturer,
                          std::string interfaceString = "Motorola Flash") {
        SimInterfaceOptions options;
        options.manufacturerString = std::move(manufacturer);
        options.interfaceString = std::move(interfaceString);
        return driver.attach(options);
    }
    SimInterfaceId attach(SimInterfaceOptions options) { return driver.attach(std::move(options)); }

    // Which interface an open handle belongs to, told by the strings each was given.
    std::string ownerOf(DeviceHandle handle) const {
        return link.queryString(handle, kPresenceSelector).text;
    }

    // Nothing the finder obtained is still alive but `handles` open handles, and nothing was
    // given back twice or unknown.
    void expectOnlyHandlesLeft(std::size_t handles) const {
        const SimEnumerationCounters counters = driver.counters();
        EXPECT_EQ(counters.liveSets, 0u);
        EXPECT_EQ(counters.liveHandles, handles);
        EXPECT_EQ(counters.badSetCloses, 0u);
        EXPECT_EQ(counters.badHandleCloses, 0u);
        EXPECT_EQ(counters.unknownSetCalls, 0u);
    }

    VirtualClock clock;
    SimDriver driver{clock};
    DriverPhoneLink link{driver};
    FlashInterfaceFinder finder{driver, link};
};

TEST_F(FlashInterfaceFinderTest, NothingPresentIsNotFoundAndNothingIsOpened) {
    EXPECT_EQ(finder.scanForPhone(), std::nullopt);
    EXPECT_EQ(finder.openFlashInterface(kFlashPrefix), kInvalidDevice);
    EXPECT_EQ(driver.counters().setsOpened, 2u);
    EXPECT_EQ(driver.counters().openCalls, 0u);
    expectOnlyHandlesLeft(0);

    driver.attach();
    driver.setOpenSetFails(true);
    EXPECT_EQ(finder.scanForPhone(), std::nullopt);
    EXPECT_EQ(finder.openFlashInterface(kFlashPrefix), kInvalidDevice);
    EXPECT_EQ(driver.counters().memberCalls, 2u);  // the two walks over the empty sets only
    expectOnlyHandlesLeft(0);
}

TEST_F(FlashInterfaceFinderTest, TheScanWantsMotorolaExactlyAtTheStart) {
    struct Case {
        std::string reply;
        bool found;
    };
    const Case cases[] = {
        {"Motorola", true},
        {"Motorola Inc.", true},
        {"Motorola\x01 anything", true},
        {"MOTOROLA INC.", false},
        {"motorola", false},
        {"Motorol", false},
        {" Motorola", false},
        {"", false},
    };
    for (const Case& c : cases) {
        const SimInterfaceId id = attach(c.reply);
        const std::optional<std::string> path = finder.scanForPhone();
        if (c.found) {
            EXPECT_EQ(path, driver.devicePathOf(id)) << c.reply;
        } else {
            EXPECT_EQ(path, std::nullopt) << c.reply;
        }
        driver.detach(id);
    }
    expectOnlyHandlesLeft(0);
}

TEST_F(FlashInterfaceFinderTest, TheOpenWantsTheCallersPrefixExactly) {
    struct Case {
        std::string reply;
        bool opened;
    };
    // "Motorola" + (' ' - 0x3F) + "Flash": a byte one code off in the way some drivers' strings
    // are, which an exact comparison must not take for the space.
    const Case cases[] = {
        {"Motorola Flash", true},
        {"Motorola Flash Interface", true},
        {"Motorola Flas", false},
        {"Motorola Modem", false},
        {"MOTOROLA FLASH", false},
        {"Motorola flash", false},
        {std::string("Motorola") + static_cast<char>(0xE1) + "Flash", false},
    };
    for (const Case& c : cases) {
        const SimInterfaceId id = attach("Motorola Inc.", c.reply);
        const DeviceHandle handle = finder.openFlashInterface(kFlashPrefix);
        EXPECT_EQ(handle.valid(), c.opened) << c.reply;
        expectOnlyHandlesLeft(c.opened ? 1 : 0);
        if (handle.valid()) driver.close(handle);
        driver.detach(id);
    }
    // The prefix is the caller's.
    const SimInterfaceId id = attach("Motorola Inc.", "Vendor X");
    const DeviceHandle handle = finder.openFlashInterface("Vendor");
    EXPECT_TRUE(handle.valid());
    driver.close(handle);
    driver.detach(id);
    expectOnlyHandlesLeft(0);
}

TEST_F(FlashInterfaceFinderTest, TheLowerIndexWinsAndTheOtherMemberIsNeverOpened) {
    const SimInterfaceId first = attach("Motorola first");
    const SimInterfaceId second = attach("Motorola second");

    EXPECT_EQ(finder.scanForPhone(), driver.devicePathOf(first));
    const DeviceHandle handle = finder.openFlashInterface(kFlashPrefix);
    EXPECT_EQ(ownerOf(handle), "Motorola first");
    EXPECT_EQ(driver.openAttempts(first), 2u);
    EXPECT_EQ(driver.openAttempts(second), 0u);
    expectOnlyHandlesLeft(1);
    driver.close(handle);
}

TEST_F(FlashInterfaceFinderTest, MembersThatCantBeReadOrOpenedOrDontMatchAreSkipped) {
    SimInterfaceOptions unreadable;
    unreadable.failDetailFetch = true;
    SimInterfaceOptions unopenable;
    unopenable.failOpen = true;
    const SimInterfaceId noDetail = attach(unreadable);
    const SimInterfaceId noOpen = attach(unopenable);
    const SimInterfaceId other = attach("Acme", "Acme Flash");
    const SimInterfaceId phone = attach("Motorola phone", "Motorola Flash phone");

    EXPECT_EQ(finder.scanForPhone(), driver.devicePathOf(phone));
    const DeviceHandle handle = finder.openFlashInterface(kFlashPrefix);
    EXPECT_EQ(ownerOf(handle), "Motorola phone");

    EXPECT_EQ(driver.openAttempts(noDetail), 0u);
    EXPECT_EQ(driver.openAttempts(noOpen), 2u);
    EXPECT_EQ(driver.openAttempts(other), 2u);  // opened, asked, closed again
    expectOnlyHandlesLeft(1);
    driver.close(handle);
}

TEST_F(FlashInterfaceFinderTest, ASizeQueryFailingAnyOtherWayEndsTheWalk) {
    SimInterfaceOptions broken;
    broken.sizeQueryError = 87;  // ERROR_INVALID_PARAMETER
    attach(broken);
    const SimInterfaceId phone = attach("Motorola Inc.");

    EXPECT_EQ(finder.scanForPhone(), std::nullopt);
    EXPECT_EQ(finder.openFlashInterface(kFlashPrefix), kInvalidDevice);
    EXPECT_EQ(driver.openAttempts(phone), 0u);
    EXPECT_EQ(driver.counters().detailSizeCalls, 2u);  // the broken member's, once per walk
    expectOnlyHandlesLeft(0);
}

TEST_F(FlashInterfaceFinderTest, APhoneWhoseFlashStringDoesntMatchIsPresentButNotOpened) {
    const SimInterfaceId phone = attach("Motorola Inc.", "Motorola Modem");
    EXPECT_EQ(finder.scanForPhone(), driver.devicePathOf(phone));
    EXPECT_EQ(finder.openFlashInterface(kFlashPrefix), kInvalidDevice);
    expectOnlyHandlesLeft(0);
}

TEST_F(FlashInterfaceFinderTest, RepeatedScansAndOpensLeaveOnlyTheOpenedHandles) {
    attach("Acme", "Acme");
    attach("Motorola Inc.");
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(finder.scanForPhone());
    const DeviceHandle first = finder.openFlashInterface(kFlashPrefix);
    const DeviceHandle second = finder.openFlashInterface(kFlashPrefix);
    EXPECT_NE(first, second);
    expectOnlyHandlesLeft(2);
    driver.close(first);
    driver.close(second);
    expectOnlyHandlesLeft(0);
    EXPECT_EQ(driver.counters().pathsDelivered, 104u);  // two members, 52 walks
}

}  // namespace
}  // namespace norvale
