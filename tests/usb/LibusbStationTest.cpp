// Two phones on one hub through real libusb, each served by a session of its own at the same time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "EmulatedPhone.h"
#include "StoryRig.h"
#include "core/OperatorTexts.h"
#include "integration/PhonesRig.h"
#include "operations/FlashRangeReader.h"
#include "platform/libusb/LibusbPort.h"
#include "presence/AttachedPhones.h"

namespace norvale::usb_testing {
namespace {

using std::chrono::milliseconds;

// One phone's session over the shared port: its own log, state and worker.
struct UsbSession {
    UsbSession(StoryRig& rig, UsbPort& port, const std::string& location)
        : platform{rig.driver, rig.driver,  rig.driver, port,
                   rig.files,  rig.chooser, rig.clock,  rig.threads} {
        handleArrivalOf(services, openAttachedPhone(platform, AttachedPhone::onUsb(location)));
    }
    ~UsbSession() { state.device.store(nullptr); }

    MemoryDialogView view;
    LineLog log{view};
    Platform platform;
    SessionState state;
    Services services{state, log, platform, view};
    CommandOutcome outcome;
};

constexpr std::uint32_t kStart = 0x10000000;
constexpr std::uint32_t kEnd = 0x1003FFFF;  // 256 KB: 64 replies
constexpr std::size_t kTwoReplies = 2 * 4096;

// A shop's two phones on one hub are backed up at once; the second is pulled out during its
// read. Its session ends with its one error line and keeps what arrived as .part; the first
// phone's dump is whole and holds that phone's flash, byte for byte.
TEST(UsbStation, OnePhonePulledOutMidReadLeavesTheOtherPhonesDumpWhole) {
    ASSERT_TRUE(underUmockdevWrapper()) << "run the suite under umockdev-wrapper";
    EmulatedPhone first;
    EmulatedPhone second(first, 4, SimPhone::erasedFlashMaskOf(2));
    LibusbPort port;
    ASSERT_TRUE(port.available());
    StoryRig rig(&port);
    std::vector<std::string> listed = port.listPhones();
    std::sort(listed.begin(), listed.end());  // in the bus's order, which libusb does not fix
    ASSERT_EQ(listed, (std::vector<std::string>{"1-1.3", "1-1.4"}));

    UsbSession sessions[2]{{rig, port, first.location()}, {rig, port, second.location()}};
    std::thread workers[2];
    for (unsigned k = 0; k < 2; ++k) {
        UsbSession& session = sessions[k];
        const std::string name = "backup-" + std::to_string(k + 1) + ".bin";
        EmulatedPhone& phone = k == 0 ? first : second;
        workers[k] = std::thread([&session, &phone, name, k] {
            session.state.busy = true;
            session.outcome = runCommandWorker(session.services, [&](CommandContext& command) {
                // The read request, then two replies; the phone goes at the third.
                if (k == 1) phone.addFault(UrbFault::unplug, phone.bulkUrbs() + 4);
                readRangeToNamedFile(command, kStart, kEnd, name);
            });
        });
    }
    for (std::thread& worker : workers) worker.join();

    EXPECT_FALSE(sessions[0].outcome.failed);
    EXPECT_EQ(sessions[0].log.lines().back(), text::kSuccess.view());
    EXPECT_EQ(norvale::testing::fileBytes("backup-1.bin"),
              SimPhone::erasedFlashOf(1, kStart, kEnd - kStart + 1));

    const std::vector<std::string> lines = sessions[1].log.lines();
    EXPECT_TRUE(sessions[1].outcome.failed);
    EXPECT_EQ(lines.back(), text::errorLine(text::kNoAnswerFromPhone));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.starts_with(text::kErrorPrefix.view());
                            }),
              1);
    EXPECT_EQ(norvale::testing::fileBytes("backup-2.bin.part"),
              SimPhone::erasedFlashOf(2, kStart, kTwoReplies));
    EXPECT_FALSE(std::filesystem::exists("backup-2.bin"));

    ASSERT_TRUE(second.waitUntilUnplugged(milliseconds(1000)));
    EXPECT_EQ(port.listPhones(), (std::vector<std::string>{"1-1.3"}));
    EXPECT_FALSE(first.unpluggedAt().has_value());
}

}  // namespace
}  // namespace norvale::usb_testing
