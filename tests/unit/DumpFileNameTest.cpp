// Dump names: the known regions by value, the built names exactly as laid out, and unsafe names.
#include <gtest/gtest.h>

#include "operations/DumpFileName.h"
#include "protocol/CommandFormats.h"

namespace norvale {
namespace {

std::string nameFor(std::string_view startText, std::string_view endText) {
    return dumpFileName(startText, endText, parseHexAddress(startText), parseHexAddress(endText));
}

TEST(DumpFileName, KnownRegionsAreNamedByValueWhateverTheCase) {
    EXPECT_EQ(nameFor("10000000", "1000FFFF"), "Boot.bin");
    EXPECT_EQ(nameFor("10010000", "1001FFFF"), "PDS.bin");
    EXPECT_EQ(nameFor("10010000", "1001ffff"), "PDS.bin");
    EXPECT_EQ(nameFor("10020000", "1003FFFF"), "Panic.bin");
    EXPECT_EQ(nameFor("10040000", "10091FFF"), "CG3.bin");
    EXPECT_EQ(nameFor("10040000", "1009FFFF"), "CG3.bin");
    EXPECT_EQ(nameFor("100A0000", "1135FFFF"), "CG1.bin");
    EXPECT_EQ(nameFor("11FE0000", "11FFFFFF"), "CG18.bin");
    EXPECT_EQ(nameFor("12FE0000", "12FFFFFF"), "CG18.bin");
    EXPECT_EQ(nameFor("13FE0000", "13FFFFFF"), "CG18.bin");
    // The values decide, not the texts: trailing text that parsing ignores still matches.
    EXPECT_EQ(dumpFileName("10010000", "1001FFFFx", 0x10010000, 0x1001FFFF), "PDS.bin");
}

TEST(DumpFileName, OtherRangesTakeTheTextsInTheFixedLayout) {
    EXPECT_EQ(nameFor("10030000", "1003ffff"), "10030000-1003ffff.bin");
    EXPECT_EQ(nameFor("10030000", "3FFFF"), "10030000-3FFFF");
    EXPECT_EQ(nameFor("10030000", ""), "10030000-");
    EXPECT_EQ(nameFor("3000", "1003FFFF"), "3000");
    EXPECT_EQ(nameFor("", "1003FFFF"), "");
    // Only Start matching a row is not enough: both values must.
    EXPECT_EQ(nameFor("10010000", "1001FFFE"), "10010000-1001FFFE.bin");
}

TEST(DumpFileName, TextsLongerThanAFieldAreCutAndNeverOverrunTheLayout) {
    EXPECT_EQ(nameFor("1003000099", "1003FFFF99"), "10030000-1003FFFF.bin");
    EXPECT_EQ(dumpFileName(std::string_view("30\0"
                                            "00",
                                            5),
                           "1", 0, 0),
              "30");
}

TEST(DumpFileName, OnlyAPlainNameInTheWorkingFolderIsAccepted) {
    for (const char* good : {"PDS.bin", "10030000-3FFFF", "3000", "COM10", "console", "nul-1"}) {
        EXPECT_TRUE(isPlainFileName(good)) << good;
    }
    for (const char* bad : {"", "a:b", "..\\dump", "bin/x", "a*", "x?", "a\"b", "<a", "a>", "a|b",
                            "\x01", "NUL", "nul.bin", "Con", "aux", "PRN.txt", "com1", "LPT9"}) {
        EXPECT_FALSE(isPlainFileName(bad)) << bad;
    }
}

}  // namespace
}  // namespace norvale
