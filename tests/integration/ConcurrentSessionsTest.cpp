// Two phones served at once, each by its own session on its own thread, sharing nothing mutable.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "integration/PhonesRig.h"
#include "operations/FlashRangeReader.h"
#include "operations/RegionWriter.h"
#include "operations/WriteVerifier.h"

namespace norvale::presence_testing {
namespace {

constexpr std::uint32_t kDumpStart = 0x10010000;
constexpr std::uint32_t kDumpEnd = 0x1001FFFF;

Bytes imageFor(unsigned number) {
    Bytes image(0x10000);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + number * 31);
    }
    return image;
}

// The operator's story at a station: a phone on the maker's driver and one on the bare USB road,
// each backed up (its PDS read into a file of its own), then written with a new PDS image and
// verified, both at the same time. Run under ThreadSanitizer, it also shows that the two sessions
// share no mutable state below the front end.
TEST(ConcurrentSessions, TwoPhonesAreBackedUpWrittenAndVerifiedAtOnce) {
    ScratchFolder folder;
    putLoaderImages(folder);
    SimPlatform sim(SimPlatform::Phone::none);
    SimInterfaceOptions usb;
    usb.road = Road::usb;
    usb.devicePath = "sim-2";
    SimPhoneOptions second;
    second.erasedFlashMask = SimPhone::erasedFlashMaskOf(2);
    const SimInterfaceId ids[] = {sim.driver.attach(),
                                  sim.driver.attach(usb, std::make_shared<SimPhone>(second))};
    const DriverPhoneLink link(sim.driver);
    const std::vector<AttachedPhone> phones = listAttachedPhones(sim.platform, link);
    ASSERT_EQ(phones.size(), 2u);

    PhoneSession sessions[2]{PhoneSession(sim), PhoneSession(sim)};
    CommandOutcome outcomes[2][3];
    std::vector<std::thread> workers;
    for (unsigned k = 0; k < 2; ++k) {
        PhoneSession& session = sessions[k];
        const std::string number = std::to_string(k + 1);
        folder.put("pds-" + number + ".bin", asText(imageFor(k + 1)));
        session.chooser.choose("pds-" + number + ".bin");
        session.arrive(phones[k]);
        workers.emplace_back([&session, &outcomes, k, number] {
            outcomes[k][0] = session.run([&](CommandContext& command) {
                readRangeToNamedFile(command, kDumpStart, kDumpEnd, "backup-" + number + ".bin");
            });
            outcomes[k][1] = session.run(writePds);
            const Bytes image = imageFor(k + 1);
            outcomes[k][2] = session.run(
                [&](CommandContext& command) { verifyWrite(command, pdsSlices(), image); });
        });
    }
    for (std::thread& worker : workers) worker.join();

    for (unsigned k = 0; k < 2; ++k) {
        SCOPED_TRACE("phone " + std::to_string(k + 1));
        for (const CommandOutcome& outcome : outcomes[k]) EXPECT_FALSE(outcome.failed);
        // Each backup holds its own phone's flash, not the other's.
        EXPECT_EQ(fileText("backup-" + std::to_string(k + 1) + ".bin"),
                  asText(SimPhone::erasedFlashOf(k + 1, kDumpStart, kDumpEnd - kDumpStart + 1)));
        EXPECT_TRUE(sim.driver.withPhone(ids[k], [&](const SimPhone& phone) {
            return phone.readFlash(0x10010000, 0x10000) == imageFor(k + 1);
        }));
        const std::string log = sessions[k].view.logText();
        const std::string bootstrap = text::kSendingLoader.str() + "JMP01\r\nRAM LOADER 1\r\n";
        EXPECT_EQ(log.find(text::errorLine(text::kNoAnswerFromPhone)), std::string::npos) << log;
        EXPECT_NE(log.find(text::kVerifyingData.str() + text::kSuccess.str()), std::string::npos)
            << log;
        EXPECT_NE(log.find(bootstrap), std::string::npos);
        // One arrival, one jump image, on this phone's own trace.
        const std::vector<std::string> trace = sim.driver.traceOf(k + 1);
        const std::string jumpPacket = "W 2 0242494e1e0064" + std::string(200, '2');
        EXPECT_EQ(
            std::count_if(trace.begin(), trace.end(),
                          [&](const std::string& line) { return line.starts_with(jumpPacket); }),
            1);
    }
}

}  // namespace
}  // namespace norvale::presence_testing
