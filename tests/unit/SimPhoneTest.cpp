// The simulated phone as the tool meets it: boot ROM packets, RAM loader, flash write and read.
#include <gtest/gtest.h>

#include <future>
#include <string_view>

#include "protocol/DriverPhoneLink.h"
#include "sim/SimDriver.h"
#include "sim/VirtualClock.h"

namespace norvale {
namespace {

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
    }
    return data;
}

// What untouched flash holds, written out independently of the simulator.
Bytes erased(std::uint32_t address, std::size_t count) {
    Bytes data(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t a = address + static_cast<std::uint32_t>(i);
        data[i] = static_cast<std::uint8_t>(a ^ (a >> 8) ^ (a >> 16) ^ (a >> 24));
    }
    return data;
}

const Bytes kAck = bytes("\x02"
                         "ACK"
                         "\x03");
const Bytes kNak = bytes("\x02"
                         "NAK"
                         "\x03");

class SimPhoneTest : public ::testing::Test {
protected:
    VirtualClock clock;
    SimDriver driver{clock};
    DriverPhoneLink link{driver};
    SimInterfaceId id = driver.attach();
    DeviceHandle device = driver.open(driver.devicePathOf(id));

    SimPhone& phone() { return *driver.phone(id); }

    void write(std::span<const std::uint8_t> data) {
        EXPECT_TRUE(link.writePipe(device, kPipe, data, 0));
    }
    void write(char command) {
        write(std::array<std::uint8_t, 1>{static_cast<std::uint8_t>(command)});
    }
    Bytes read(std::uint32_t maxBytes) {
        const ReadReply reply = link.readPipe(device, kPipe, maxBytes, 0);
        EXPECT_TRUE(reply.completed);
        return reply.data;
    }
    void startLoader() {
        write('A');
        write(pattern(2048, 0x40));
        EXPECT_EQ(read(12), bytes("RAM LOADER 1"));
    }
};

TEST_F(SimPhoneTest, UploadPacketsLandInRamAndEachIsAcknowledged) {
    const Bytes image = pattern(3000, 1);
    write(buildAddrPacket(0x03FD0000));
    EXPECT_EQ(read(1024), kAck);
    write(buildBinPacket(std::span(image).first(2048)));
    EXPECT_EQ(read(1024), kAck);
    // Without a new ADDR packet the next BIN packet continues where the last one ended.
    write(buildBinPacket(std::span(image).subspan(2048)));
    EXPECT_EQ(read(1024), kAck);

    EXPECT_EQ(phone().ram(0x03FD0000, 3000), image);
    EXPECT_EQ(phone().ram(0x03FD0000 + 3000, 4), Bytes(4, 0));
    EXPECT_EQ(phone().rejectedPackets(), 0u);
}

TEST_F(SimPhoneTest, APacketWithABadChecksumOrLengthUploadsNothing) {
    const Bytes data = pattern(16, 9);
    auto addr = buildAddrPacket(0x03FD0000);
    addr[15] = addr[15] == 'D' ? 'E' : 'D';  // checksum characters "AD" no longer match
    write(addr);
    EXPECT_EQ(read(1024), kNak);
    // The bad ADDR packet left no address, so even a correct BIN packet has nowhere to go.
    write(buildBinPacket(data));
    EXPECT_EQ(read(1024), kNak);

    write(buildAddrPacket(0x03FD0000));
    EXPECT_EQ(read(1024), kAck);
    Bytes badSum = buildBinPacket(data);
    badSum[10] ^= 0x01;
    write(badSum);
    EXPECT_EQ(read(1024), kNak);
    Bytes badLength = buildBinPacket(data);
    badLength[6] = 17;  // claims one byte more than it carries
    write(badLength);
    EXPECT_EQ(read(1024), kNak);

    EXPECT_EQ(phone().ram(0x03FD0000, 16), Bytes(16, 0));
    EXPECT_EQ(phone().rejectedPackets(), 4u);
}

TEST_F(SimPhoneTest, IdentityRepliesCarryBootVersionAndModeAtTheirOffsets) {
    write(rqhwPacket);
    EXPECT_EQ(read(32), bytes("\x02"
                              "RQHW"
                              "\x1E"
                              "LTE2 BOOT V=0C60 SIM 0001"
                              "\x03"));
    write(enumPacket);
    EXPECT_EQ(read(256), bytes("\x02"
                               "ENUM"
                               "\x1E"
                               "FLASH "
                               "\x03"));

    startLoader();
    write('B');
    write(enumPacket);  // still answered while the loader runs
    EXPECT_EQ(read(256), bytes("\x02"
                               "ENUM"
                               "\x1E"
                               "BLANK "
                               "\x03"));
    EXPECT_TRUE(phone().blank());
}

TEST_F(SimPhoneTest, PhoneOptionsShapeTheIdentityReplies) {
    const SimInterfaceId other = driver.attach(
        {}, std::make_shared<SimPhone>(SimPhoneOptions{"0D12", 20, std::string("FL\0SH ", 6)}));
    const DeviceHandle handle = driver.open(driver.devicePathOf(other));
    link.writePipe(handle, kPipe, rqhwPacket, 0);
    EXPECT_EQ(link.readPipe(handle, kPipe, 32, 0).data, bytes("\x02"
                                                              "RQHW"
                                                              "\x1E"
                                                              "LTE2 BOOT V=0D"));
    link.writePipe(handle, kPipe, enumPacket, 0);
    EXPECT_EQ(link.readPipe(handle, kPipe, 256, 0).data, bytes({"\x02"
                                                                "ENUM"
                                                                "\x1E"
                                                                "FL\0SH "
                                                                "\x03",
                                                                13}));
}

TEST_F(SimPhoneTest, StageReplyTellsWhetherTheJumpImageWasUploaded) {
    EXPECT_EQ(read(5), bytes("LDR01"));
    write(buildAddrPacket(0x03FEF800));
    EXPECT_EQ(read(1024), kAck);
    write(buildBinPacket(pattern(64, 3)));
    EXPECT_EQ(read(1024), kAck);
    EXPECT_EQ(read(5), bytes("JMP01"));
    EXPECT_TRUE(phone().jumpImageLoaded());
}

TEST_F(SimPhoneTest, RamLoaderStartsTheLoaderAndAnUploadHandsBackToTheBootRom) {
    EXPECT_FALSE(phone().loaderRunning());
    startLoader();
    EXPECT_TRUE(phone().loaderRunning());
    EXPECT_EQ(phone().ramLoaderImage(), pattern(2048, 0x40));
    EXPECT_EQ(read(5), Bytes{});  // the loader has nothing to say

    // The next command uploads the loaders again: the boot ROM answers, then 'A' restarts.
    write(buildAddrPacket(0x03FD0000));
    EXPECT_EQ(read(1024), kAck);
    EXPECT_FALSE(phone().loaderRunning());
    EXPECT_EQ(read(5), bytes("LDR01"));
    startLoader();
    EXPECT_EQ(phone().loaderStarts(), 2u);
}

TEST_F(SimPhoneTest, FlashBlockIsWrittenExactlyWhereAddressed) {
    startLoader();
    const Bytes block = pattern(0x8000, 0x11);
    write('F');
    write(encodeAddress(0x10010000));
    for (std::size_t offset = 0; offset < block.size(); offset += 4096) {
        write(std::span(block).subspan(offset, 4096));
        EXPECT_EQ(read(4), bytes("CHOK"));
    }
    EXPECT_EQ(read(5), bytes("BLKOK"));

    EXPECT_EQ(phone().readFlash(0x10010000, 0x8000), block);
    EXPECT_EQ(phone().flashByte(0x1000FFFF), 0x10);
    EXPECT_EQ(phone().flashByte(0x10018000), 0x91);
    EXPECT_EQ(phone().readFlash(0x1000F000, 0x1000), erased(0x1000F000, 0x1000));
    EXPECT_EQ(phone().readFlash(0x10018000, 0x1000), erased(0x10018000, 0x1000));
}

TEST_F(SimPhoneTest, AShortChunkEndsTheBlockAndLargeBlocksTakeThirtyTwoChunks) {
    startLoader();
    const Bytes image = pattern(0x7F00, 0x22);
    write('F');
    write(encodeAddress(0x10000000));
    for (std::size_t offset = 0; offset < image.size(); offset += 4096) {
        write(std::span(image).subspan(offset, std::min<std::size_t>(4096, image.size() - offset)));
        EXPECT_EQ(read(4), bytes("CHOK"));
    }
    EXPECT_EQ(read(5), bytes("BLKOK"));
    EXPECT_EQ(phone().readFlash(0x10000000, 0x7F00), image);
    EXPECT_EQ(phone().flashByte(0x10007F00), 0x6F);

    const Bytes chunk = pattern(4096, 0x33);
    write('F');
    write(encodeAddress(0x10020000));
    for (int i = 0; i < 31; ++i) {
        write(chunk);
        EXPECT_EQ(read(4), bytes("CHOK"));
    }
    EXPECT_EQ(read(5), Bytes{});  // 31 chunks are not yet a 128 KB block
    write(chunk);
    EXPECT_EQ(read(4), bytes("CHOK"));
    EXPECT_EQ(read(5), bytes("BLKOK"));
    EXPECT_EQ(phone().readFlash(0x1003F000, 4096), chunk);
    EXPECT_EQ(phone().flashByte(0x10040000), 0x14);
}

TEST_F(SimPhoneTest, AStuckBlockKeepsItsContentsWhileTheRepliesSayStored) {
    // An unaligned 32 KB block from 1001C000 reaches into the 128 KB block at 10020000; only
    // that one is stuck, by an address inside it.
    driver.stickFlashBlock(0x10031234);
    startLoader();
    const Bytes block = pattern(0x8000, 0x44);
    write('F');
    write(encodeAddress(0x1001C000));
    for (std::size_t offset = 0; offset < block.size(); offset += 4096) {
        write(std::span(block).subspan(offset, 4096));
        EXPECT_EQ(read(4), bytes("CHOK"));
    }
    EXPECT_EQ(read(5), bytes("BLKOK"));
    EXPECT_EQ(phone().readFlash(0x1001C000, 0x4000), Bytes(block.begin(), block.begin() + 0x4000));
    EXPECT_EQ(phone().readFlash(0x10020000, 0x4000), erased(0x10020000, 0x4000));
}

TEST_F(SimPhoneTest, ReadRequestIsServedInFourKilobyteRepliesThenNothing) {
    startLoader();
    const Bytes mark{0xDE, 0xAD, 0xBE};
    phone().writeFlash(0x10010FFF, mark);
    write(buildReadRequest(0x10010000, 4096 + 100));

    Bytes expected = erased(0x10010000, 4096 + 100);
    std::copy(mark.begin(), mark.end(), expected.begin() + 0xFFF);
    EXPECT_EQ(read(4096), Bytes(expected.begin(), expected.begin() + 4096));
    EXPECT_EQ(read(4096), Bytes(expected.begin() + 4096, expected.end()));
    EXPECT_EQ(read(4096), Bytes{});

    // 'Z' drops what was not yet read.
    write(buildReadRequest(0x13FFD000, 3 * 4096));
    EXPECT_EQ(read(4096), erased(0x13FFD000, 4096));
    write('Z');
    EXPECT_EQ(read(4096), Bytes{});
}

TEST_F(SimPhoneTest, StartCommandRestartsThePhoneWhichLeavesTheBus) {
    startLoader();
    const std::string key = driver.registryKeyOf(id);
    auto removal = std::async(std::launch::async, [&] { return driver.waitForChange(key, {}); });
    ASSERT_TRUE(driver.waitForWatchers(1, std::chrono::seconds(10)));

    write('S');
    EXPECT_TRUE(driver.attached(id));
    write('A');
    EXPECT_TRUE(removal.get());
    EXPECT_FALSE(driver.attached(id));
    EXPECT_FALSE(link.writePipe(device, kPipe, rqhwPacket, 0));
    EXPECT_FALSE(phone().loaderRunning());

    // Plugged in again in flash mode, the same phone still holds what was flashed.
    phone().writeFlash(0x10000000, Bytes{0x42});
    const SimInterfaceId again = driver.attach({}, driver.phone(id));
    EXPECT_EQ(driver.phone(again)->flashByte(0x10000000), 0x42);
}

}  // namespace
}  // namespace norvale
