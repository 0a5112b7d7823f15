// Faults on the USB road through real libusb: each ends the command with its one error line, in
// time, and a dump keeps what arrived.
#include <gtest/gtest.h>

#include <chrono>

#include "EmulatedPhone.h"
#include "StoryRig.h"
#include "platform/libusb/LibusbPort.h"
#include "ui/CommandBodies.h"
#include "unit/DialogLogTexts.h"

namespace norvale::usb_testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class UsbRoadFault : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(underUmockdevWrapper()) << "run the suite under umockdev-wrapper";
        ASSERT_TRUE(port.available());
        rig.arrive();
    }

    struct Clicked {
        std::vector<std::string> lines;  // what the command logged
        milliseconds took;
    };
    Clicked click(const CommandBody& body) {
        const std::size_t before = rig.log.lines().size();
        const auto start = Clock::now();
        rig.click(body);
        const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
        const std::vector<std::string> lines = rig.log.lines();
        return {{lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()}, took};
    }
    // `body`, with `fault` at its n-th bulk URB (the loader bootstrap before it not counted).
    CommandBody faulted(const CommandBody& body, UrbFault fault, std::uint64_t n) {
        return [this, body, fault, n](CommandContext& command) {
            phone.addFault(fault, phone.bulkUrbs() + n);
            body(command);
        };
    }

    const CommandBodies bodies = productCommandBodies();
    EmulatedPhone phone;
    LibusbPort port;
    StoryRig rig{&port};
};

Bytes erasedFlash(std::uint32_t address, std::size_t count) {
    return SimPhone::erasedFlashOf(1, address, count);
}

bool anyLine(const std::vector<std::string>& lines, std::string_view text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

// The body's first URB is the read request, the next ones its 4096-byte replies: the fault
// strikes the third reply, after two have been saved.
constexpr std::uint64_t kThirdReply = 4;
constexpr std::size_t kTwoReplies = 2 * 4096;

TEST_F(UsbRoadFault, PhonePulledOutInTheMiddleOfARangeRead) {
    rig.fields("10010000", "1001FFFF");
    const auto [lines, took] =
        click(faulted(bodies.readRangeToFile, UrbFault::unplug, kThirdReply));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), text::errorLine(text::kNoAnswerFromPhone));
    EXPECT_FALSE(anyLine(lines, text::kSuccess));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.starts_with(text::kErrorPrefix.view());
                            }),
              1);
    EXPECT_LT(took, milliseconds(3000)) << "the replies' wait is 60 s; the removal ends it";
    EXPECT_EQ(norvale::testing::fileBytes("PDS.bin.part"), erasedFlash(0x10010000, kTwoReplies));

    ASSERT_TRUE(phone.waitUntilUnplugged(milliseconds(1000)));
    EXPECT_FALSE(rig.phoneStays(milliseconds(1000)));
    // What comes next finds the phone gone at once.
    const Clicked next = click(bodies.setBlankMode);
    EXPECT_EQ(next.lines, (std::vector<std::string>{std::string(text::kSendingLoader.view()),
                                                    text::errorLine(text::kNoAnswerFromPhone)}));
    EXPECT_LT(next.took, milliseconds(500));
}

TEST_F(UsbRoadFault, StalledEndpointInARangeReadIsClearedForTheNextCommand) {
    rig.fields("10010000", "1001FFFF");
    const auto [lines, took] = click(faulted(bodies.readRangeToFile, UrbFault::stall, kThirdReply));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), text::errorLine(text::kNoAnswerFromPhone));
    EXPECT_FALSE(anyLine(lines, text::kSuccess));
    EXPECT_LT(took, milliseconds(3000));
    EXPECT_EQ(norvale::testing::fileBytes("PDS.bin.part"), erasedFlash(0x10010000, kTwoReplies));

    // The halt was cleared, so the phone answers the next command.
    const std::vector<std::string> requests = phone.requests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), "clear-halt 83"), requests.end());
    EXPECT_EQ(click(bodies.setBlankMode).lines.back(), text::kSettingBlank.view());
    EXPECT_TRUE(phone.withPhone([](const SimPhone& simPhone) { return simPhone.blank(); }));
}

TEST_F(UsbRoadFault, AReplyThatNeverComesEndsTheCommandAtTheUsbRoadsOwnLimit) {
    // The first command uploads loader.bin (3000 bytes: two packets) and the jump image (one
    // packet), each packet an ADDR write and read and a BIN write and read: the stage reply, read
    // with a wait of 0, is the 13th bulk URB.
    phone.addFault(UrbFault::hang, phone.bulkUrbs() + 13);
    const auto [lines, took] = click(bodies.setBlankMode);
    EXPECT_EQ(lines, (std::vector<std::string>{std::string(text::kSendingLoader.view()),
                                               text::errorLine(text::kNoAnswerFromPhone)}));
    EXPECT_GE(took, milliseconds(kUsbZeroWaitLimitMs));
    EXPECT_LT(took, milliseconds(kUsbZeroWaitLimitMs + 1500));
    // Cancelled and given back before the read returned.
    EXPECT_EQ(phone.urbsInFlight(), 0u);
}

}  // namespace
}  // namespace norvale::usb_testing
