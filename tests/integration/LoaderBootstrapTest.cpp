// The loader upload that opens every command, as the simulated phone's driver sees it.
#include <gtest/gtest.h>

#include "integration/OperationsRig.h"
#include "operations/PhoneControl.h"
#include "presence/PresenceHandling.h"
#include "protocol/LoaderBootstrap.h"

namespace norvale::testing {
namespace {

std::string asciiHex(std::string_view text) {
    return hexOf({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

// An ADDR packet's trace line, from the address text and checksum characters it must carry.
std::string addrLine(std::string_view address, std::string_view checksum) {
    return "W 2 02" + asciiHex("ADDR") + "1e" + asciiHex(address) + asciiHex(checksum) + "03";
}

// A BIN packet's trace line for `data`: length high byte first, the 8-bit sum, ETX.
std::string binLine(std::span<const std::uint8_t> data) {
    const auto n = static_cast<unsigned>(data.size());
    unsigned sum = (n >> 8) + (n & 0xFF);
    for (const std::uint8_t byte : data) sum += byte;
    const std::uint8_t frame[] = {static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
    const std::uint8_t tail[] = {static_cast<std::uint8_t>(sum), 0x03};
    return "W 2 02" + asciiHex("BIN") + "1e" + hexOf(frame) + hexOf(data) + hexOf(tail);
}

const std::string kAck = readLine(1024, "\x02"
                                        "ACK\x03");

// Where a BIN packet goes: the address text of its ADDR packet and the checksum characters.
struct Packet {
    std::string_view address;
    std::string_view checksum;
};
using Packets = std::vector<Packet>;

// The trace of `image` sent in 2048-byte BIN packets, each after its ADDR packet, all acknowledged.
std::vector<std::string> uploadTrace(std::span<const std::uint8_t> image, const Packets& packets) {
    std::vector<std::string> lines;
    std::size_t offset = 0;
    for (const Packet& packet : packets) {
        const std::size_t size = std::min<std::size_t>(2048, image.size() - offset);
        lines.insert(lines.end(), {addrLine(packet.address, packet.checksum), kAck,
                                   binLine(image.subspan(offset, size)), kAck});
        offset += size;
    }
    return lines;
}

// The first upload of the 5000-byte loader, from the start of its RAM.
const Packets kLoaderAtStart{{"03FD0000", "AD"}, {"03FD0800", "B5"}, {"03FD1000", "AE"}};

class LoaderBootstrapTest : public ::testing::Test {
protected:
    LoaderBootstrapTest() {
        putFile("bin/loader.bin", loader);
        putFile("bin/LTE2_jump.bin", jump);
        putFile("bin/ram.bin", ram);
    }

    // One click's worth: busy set, the worker frame with a body that notes it ran.
    bool runCommand(const CommandBody& body = {}) {
        rig.sim.driver.clearTrace();
        rig.log.appends_.clear();
        bool bodyRan = false;
        rig.state.busy = true;
        runCommandWorker(rig.services, [&](CommandContext& command) {
            bodyRan = true;
            if (body) body(command);
        });
        EXPECT_FALSE(rig.state.busy.load());
        return bodyRan;
    }

    // A whole bootstrap: the loader's packets, the jump image's (if any), then the loader's
    // greeting, 'A', the RAM loader and its banner.
    std::vector<std::string> bootstrapTrace(const Packets& loaderPackets,
                                            const Packets& jumpPackets,
                                            std::string_view greeting = "JMP01") const {
        std::vector<std::string> lines = uploadTrace(loader, loaderPackets);
        const std::vector<std::string> jumpLines = uploadTrace(jump, jumpPackets);
        lines.insert(lines.end(), jumpLines.begin(), jumpLines.end());
        lines.insert(lines.end(),
                     {readLine(5, greeting), "W 2 41", written(ram), readLine(12, "RAM LOADER 1")});
        return lines;
    }

    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        for (const auto& append : rig.log.appends_) lines.push_back(append.text);
        return lines;
    }

    OperationsRig rig;
    const Bytes loader = patternImage(5000, 0x41);
    const Bytes jump = patternImage(300, 0x52);
    const Bytes ram = patternImage(2048, 0x63);
};

TEST_F(LoaderBootstrapTest, FirstCommandUploadsLoaderThenJumpImageThenRamLoader) {
    EXPECT_TRUE(runCommand());

    expectTranscript(rig.sim.driver.trace(), bootstrapTrace(kLoaderAtStart, {{"03FEF800", "CC"}}));
    EXPECT_EQ(logLines(), (std::vector<std::string>{text::kSendingLoader.str(), "JMP01\r\n",
                                                    "RAM LOADER 1\r\n"}));
    EXPECT_EQ(rig.state.loaderBase.load(), 0x03FEF800u);
    // Each BIN packet is followed by a 16 ms pause.
    EXPECT_EQ(rig.sim.clock.now(), 4u * 16u);
}

TEST_F(LoaderBootstrapTest, LaterCommandsUploadTheLoaderAtTheJumpAddressAndSkipTheJumpImage) {
    ASSERT_TRUE(runCommand());
    EXPECT_TRUE(runCommand());

    expectTranscript(
        rig.sim.driver.trace(),
        bootstrapTrace({{"03FEF800", "CC"}, {"03FF0000", "AF"}, {"03FF0800", "B7"}}, {}));
    EXPECT_TRUE(rig.sim.driver.withPhone(rig.sim.phoneId, [&](const SimPhone& phone) {
        return phone.ram(0x03FEF800, loader.size()) == loader;
    }));
}

// The operator's story: a phone arrives and gets two commands, is started (it leaves flash
// mode), and is put back into flash mode. Having just booted, it holds nothing in RAM: its
// first command after the new arrival needs the whole bootstrap again, jump image included.
TEST_F(LoaderBootstrapTest, EveryArrivalBeginsWithTheWholeBootstrap) {
    handleArrival(rig.services);
    EXPECT_TRUE(runCommand());
    expectTranscript(rig.sim.driver.trace(), bootstrapTrace(kLoaderAtStart, {{"03FEF800", "CC"}}));

    EXPECT_TRUE(runCommand(startPhone));
    const Packets loaderAfterJump{{"03FEF800", "CC"}, {"03FF0000", "AF"}, {"03FF0800", "B7"}};
    std::vector<std::string> started = bootstrapTrace(loaderAfterJump, {});
    started.insert(started.end(), {"W 2 53", "W 2 41"});
    expectTranscript(rig.sim.driver.trace(), started);
    ASSERT_FALSE(rig.sim.driver.attached(rig.sim.phoneId));

    handleRemoval(rig.services);
    rig.sim.phoneId = rig.sim.driver.attach({}, rig.sim.driver.phone(rig.sim.phoneId));
    handleArrival(rig.services);
    EXPECT_TRUE(runCommand());
    expectTranscript(rig.sim.driver.trace(), bootstrapTrace(kLoaderAtStart, {{"03FEF800", "CC"}}));
    EXPECT_EQ(logLines(), (std::vector<std::string>{text::kSendingLoader.str(), "JMP01\r\n",
                                                    "RAM LOADER 1\r\n"}));

    // Within one arrival the jump image goes once.
    EXPECT_TRUE(runCommand());
    expectTranscript(rig.sim.driver.trace(), bootstrapTrace(loaderAfterJump, {}));
}

TEST_F(LoaderBootstrapTest, MissingJumpImageIsNamedAndTriedOnlyOnce) {
    std::filesystem::remove("bin/LTE2_jump.bin");

    EXPECT_FALSE(runCommand());
    EXPECT_TRUE(rig.state.jumpStageDone.load());
    EXPECT_EQ(rig.state.loaderBase.load(), 0x03FD0000u);
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              text::kSendingLoader.str(),
                              text::errorLine(text::kCannotReadFile, ".\\bin\\LTE2_jump.bin")}));
    // Nothing after the loader upload: no 'A', no RAM loader.
    expectTranscript(rig.sim.driver.trace(), uploadTrace(loader, kLoaderAtStart));

    // The next command uploads loader.bin to 03FD0000 again and goes straight on to the RAM loader.
    EXPECT_TRUE(runCommand());
    expectTranscript(rig.sim.driver.trace(), bootstrapTrace(kLoaderAtStart, {}, "LDR01"));
}

TEST_F(LoaderBootstrapTest, WithoutAPhoneEveryCommandSaysSoAndSendsNothing) {
    rig.state.connected = false;
    EXPECT_FALSE(runCommand());
    EXPECT_EQ(logLines(), (std::vector<std::string>{"\xce\xd8\xc8\xc1\xca\xc0 - "
                                                    "\xd2\xe5\xeb\xe5\xf4\xee\xed \xed\xe5 "
                                                    "\xef\xee\xe4\xea\xeb\xfe\xf7\xe5\xed\r\n"}));
    EXPECT_TRUE(rig.sim.driver.trace().empty());
}

TEST_F(LoaderBootstrapTest, AMissingOrEmptyLoaderImageIsNamedAndTheBodyDoesNotRun) {
    std::filesystem::remove("bin/loader.bin");
    EXPECT_FALSE(runCommand());
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              text::kSendingLoader.str(),
                              text::errorLine(text::kCannotReadFile, ".\\bin\\loader.bin")}));
    EXPECT_TRUE(rig.sim.driver.trace().empty());

    putFile("bin/loader.bin", {});
    EXPECT_FALSE(runCommand());
    EXPECT_EQ(logLines().back(), text::errorLine(text::kCannotReadFile, ".\\bin\\loader.bin"));

    putFile("bin/loader.bin", loader);
    rig.sim.files.failOpening(".\\bin\\ram.bin", FileError::sharingViolation);
    EXPECT_FALSE(runCommand());
    EXPECT_EQ(logLines().back(), text::errorLine(text::kFileInUse, ".\\bin\\ram.bin"));
    EXPECT_NE(rig.sim.driver.trace().back(), "W 2 41") << "'A' must not go out without its loader";
    EXPECT_EQ(rig.sim.files.liveFiles(), 0u);
}

TEST_F(LoaderBootstrapTest, RamLoaderIsAlwaysExactly2048BytesZeroPaddedNeverStale) {
    const Bytes shortRam = patternImage(100, 0x77);
    putFile("bin/ram.bin", shortRam);
    EXPECT_TRUE(runCommand());
    Bytes padded = shortRam;
    padded.resize(2048, 0);
    EXPECT_EQ(rig.sim.driver.trace()[rig.sim.driver.trace().size() - 2], written(padded));

    const Bytes longRam = patternImage(3000, 0x78);
    putFile("bin/ram.bin", longRam);
    EXPECT_TRUE(runCommand());
    EXPECT_EQ(rig.sim.driver.trace()[rig.sim.driver.trace().size() - 2],
              written(std::span(longRam).first(2048)));
}

TEST_F(LoaderBootstrapTest, AFailedTransferEndsTheCommandWithOneErrorLine) {
    // The phone is pulled before the third transfer: the first BIN packet.
    rig.sim.driver.addFault(SimFaultKind::unplug, 3);
    EXPECT_FALSE(runCommand());
    EXPECT_EQ(rig.sim.driver.trace(),
              (std::vector<std::string>{addrLine("03FD0000", "AD"), kAck,
                                        binLine(std::span(loader).first(2048)) + " FAIL"}));
    EXPECT_EQ(logLines(), (std::vector<std::string>{text::kSendingLoader.str(),
                                                    text::errorLine(text::kNoAnswerFromPhone)}));
}

TEST_F(LoaderBootstrapTest, AHungReplyFailsAfterItsWaitAndNothingMoreIsSent) {
    rig.sim.driver.addFault(SimFaultKind::hang, 2);
    EXPECT_FALSE(runCommand());
    EXPECT_EQ(rig.sim.driver.trace(),
              (std::vector<std::string>{addrLine("03FD0000", "AD"), "R 2 1024 FAIL"}));
    EXPECT_EQ(rig.sim.clock.now(), 20000u);
    EXPECT_EQ(logLines().back(), text::errorLine(text::kNoAnswerFromPhone));
}

TEST_F(LoaderBootstrapTest, AnInterfaceThatCouldNotBeOpenedFailsAtOnceNotAfterAMinute) {
    rig.state.device.store(std::make_shared<const OpenDevice>(kInvalidDevice, rig.sim.driver));
    EXPECT_FALSE(runCommand());
    EXPECT_EQ(rig.sim.driver.trace(),
              (std::vector<std::string>{addrLine("03FD0000", "AD") + " FAIL"}));
    EXPECT_EQ(rig.sim.clock.now(), 0u);
    EXPECT_EQ(logLines().back(), text::errorLine(text::kNoAnswerFromPhone));
}

}  // namespace
}  // namespace norvale::testing
