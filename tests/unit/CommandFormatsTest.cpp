// The boot-ROM packets, loader arguments and address text, byte for byte.
#include <gtest/gtest.h>

#include "protocol/CommandFormats.h"

namespace norvale {
namespace {

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

template <std::size_t N>
Bytes asBytes(const std::array<std::uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

TEST(ParseHexAddress, ReadsUpToEightDigitsOfEitherCaseAndStopsAtTheFirstOther) {
    EXPECT_EQ(parseHexAddress("10010000"), 0x10010000u);
    EXPECT_EQ(parseHexAddress("1001ffff"), 0x1001FFFFu);
    EXPECT_EQ(parseHexAddress("1001FFFF"), 0x1001FFFFu);
    EXPECT_EQ(parseHexAddress(""), 0u);
    EXPECT_EQ(parseHexAddress("G1"), 0u);
    EXPECT_EQ(parseHexAddress("12G4"), 0x12u);
    EXPECT_EQ(parseHexAddress("12:4"), 0x12u);
    EXPECT_EQ(parseHexAddress("123456789"), 0x12345678u);
    EXPECT_EQ(parseHexAddress("FFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(parseHexAddress(std::string_view("1\0"
                                               "2",
                                               3)),
              0x1u);
}

TEST(FormatHexAddress, IsEightUppercaseDigits) {
    EXPECT_EQ(formatHexAddress(0x3FD0000), "03FD0000");
    EXPECT_EQ(formatHexAddress(0), "00000000");
    EXPECT_EQ(formatHexAddress(0xabcdef12), "ABCDEF12");
}

TEST(AddrPacket, CarriesTheAddressTextAndTheSumOfItsCharacters) {
    EXPECT_EQ(asBytes(buildAddrPacket(0x03FD0000)), bytesOf("\x02"
                                                            "ADDR\x1e"
                                                            "03FD0000AD\x03"));
    EXPECT_EQ(asBytes(buildAddrPacket(0x03FEF800)), bytesOf("\x02"
                                                            "ADDR\x1e"
                                                            "03FEF800CC\x03"));
    // The sum of "00000000" is 0x180: only its low byte is written, with a leading zero kept.
    EXPECT_EQ(asBytes(buildAddrPacket(0)), bytesOf("\x02"
                                                   "ADDR\x1e"
                                                   "0000000080\x03"));
    EXPECT_EQ(asBytes(buildAddrPacket(0x10000000)), bytesOf("\x02"
                                                            "ADDR\x1e"
                                                            "1000000081\x03"));
}

TEST(BinPacket, FramesLengthDataAndChecksum) {
    const Bytes data{0x01, 0xFF, 0x80};
    // Checksum: 0x00 + 0x03 + 0x01 + 0xFF + 0x80 = 0x183 -> 0x83.
    EXPECT_EQ(buildBinPacket(data),
              (Bytes{0x02, 'B', 'I', 'N', 0x1E, 0x00, 0x03, 0x01, 0xFF, 0x80, 0x83, 0x03}));

    const Bytes full(2048, 0x01);
    const Bytes packet = buildBinPacket(full);
    ASSERT_EQ(packet.size(), 2057u);
    EXPECT_EQ(packet[5], 0x08);
    EXPECT_EQ(packet[6], 0x00);
    EXPECT_TRUE(std::equal(full.begin(), full.end(), packet.begin() + 7));
    // 0x08 + 0x00 + 2048 * 1 = 0x808 -> 0x08.
    EXPECT_EQ(packet[2055], 0x08);
    EXPECT_EQ(packet[2056], 0x03);
}

TEST(LoaderArguments, AreBigEndianAndUnframed) {
    EXPECT_EQ(asBytes(buildReadRequest(0x10010000, 0x10000)),
              (Bytes{0x52, 0x10, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(asBytes(encodeAddress(0x10018000)), (Bytes{0x10, 0x01, 0x80, 0x00}));
    EXPECT_EQ(asBytes(commandByte(LoaderCommand::end)), Bytes{0x5A});
    EXPECT_EQ(asBytes(commandByte(LoaderCommand::ramLoader)), Bytes{0x41});
    EXPECT_EQ(asBytes(rqhwPacket), (Bytes{0x02, 0x52, 0x51, 0x48, 0x57, 0x03}));
    EXPECT_EQ(asBytes(enumPacket), (Bytes{0x02, 0x45, 0x4E, 0x55, 0x4D, 0x03}));
}

}  // namespace
}  // namespace norvale
