// A backup's SHA256SUMS as a restore reads it: what sha256sum writes and accepts, nothing else.
#include <gtest/gtest.h>

#include <string>

#include "station/BackupSet.h"

namespace norvale {
namespace {

const std::string kDigest(64, 'a');

TEST(ChecksumList, ReadsWhatSha256sumWritesInEitherModeAndLineEnd) {
    const std::string upper = "0123456789ABCDEF" + std::string(48, 'F');
    const ChecksumList list = parseChecksums(kDigest + "  Boot.bin\n" + upper + " *PDS.bin\r\n" +
                                             kDigest + "  Panic.bin");
    EXPECT_EQ(list.badLine, 0u);
    EXPECT_EQ(list.entries,
              (std::vector<ChecksumEntry>{{kDigest, "Boot.bin"},
                                          {"0123456789abcdef" + std::string(48, 'f'), "PDS.bin"},
                                          {kDigest, "Panic.bin"}}));
    EXPECT_EQ(parseChecksums("").entries.size(), 0u);
}

TEST(ChecksumList, AMalformedLineIsNamedByItsNumber) {
    const std::string good = kDigest + "  Boot.bin\n";
    const std::vector<std::pair<std::string, std::size_t>> cases{
        {good + kDigest.substr(1) + "  PDS.bin\n", 2},        // a digit short
        {good + "g" + kDigest.substr(1) + "  PDS.bin\n", 2},  // not hex
        {good + kDigest + " PDS.bin\n", 2},                   // one space
        {good + kDigest + "  \n", 2},                         // no name
        {good + "\n", 2},                                     // an empty line
        {good + kDigest + "  ../PDS.bin\n", 2},               // out of the folder
        {kDigest + "  sub\\Boot.bin\n", 1},                   // a folder part
        {kDigest + "  NUL\n", 1},                             // a device
        {good + kDigest + "  boot.BIN\n", 2},                 // the same file twice
        {good + good, 2},
    };
    for (const auto& [text, line] : cases) {
        const ChecksumList list = parseChecksums(text);
        EXPECT_EQ(list.badLine, line) << text;
        EXPECT_EQ(list.entries.size(), line - 1) << text;
    }
}

}  // namespace
}  // namespace norvale
