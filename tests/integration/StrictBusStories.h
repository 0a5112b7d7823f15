// The stories every stand-in of the USB road tells under the bus's own rules: reads whose last
// reply fills a few whole packets, a region read and a verified write, with or without the
// zero-length packet some phones send after a reply of whole packets.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CliRig.h"

namespace norvale::testing {

// The sizes of the bulk IN transfers a stand-in has seen so far, in order.
using InTransferSizes = std::function<std::vector<std::uint32_t>()>;

// The RAM loader's reply (12 bytes, one short packet) is the last read before the range's.
inline constexpr std::uint32_t kRamLoaderReplyRead = 64;

// A range read and the bulk IN transfers it takes after the RAM loader's reply: each asks for
// what the phone still owes of the reply it is sending, in whole packets. Where the phone sends
// a zero-length packet after a reply of whole packets, the transfer that meets it ends with no
// data and the next asks again; one after the last reply waits for the next command.
struct OwedRead {
    std::string range;
    std::uint32_t count;
    std::vector<std::uint32_t> transfers;
    std::vector<std::uint32_t> transfersWithZeroLength;
};

inline const std::vector<OwedRead> kOwedReads{
    // A whole reply, then one of a single packet: a transfer of 4096 for it would wait.
    {"10000000-1000103F", 0x1040, {4096, 64}, {4096, 64, 64}},
    // One reply of four whole packets.
    {"10000000-100000FF", 0x100, {256}, {256}},
};

inline std::vector<std::uint32_t> lastTransfers(const InTransferSizes& sizes, std::size_t count) {
    const std::vector<std::uint32_t> all = sizes();
    if (all.size() < count) return all;
    return {all.end() - static_cast<std::ptrdiff_t>(count), all.end()};
}

inline std::vector<std::uint32_t> afterRamLoaderReply(std::vector<std::uint32_t> transfers) {
    transfers.insert(transfers.begin(), kRamLoaderReplyRead);
    return transfers;
}

// `read RANGE -o FILE` for each owed read, on the phone of `rig`'s USB road, which holds flash
// never written: the operator's lines end in success, the file holds the range, and the reads
// asked for what was owed.
inline void tellOwedReads(CliRig& rig, bool zeroLengthAfterWhole, const InTransferSizes& sizes) {
    for (const OwedRead& read : kOwedReads) {
        SCOPED_TRACE(read.range);
        const std::string file = read.range + ".bin";
        const CliRig::Result result = rig.run({"read", read.range, "-o", file});
        EXPECT_EQ(result.code, 0) << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(result.out.ends_with("Success\n")) << result.out;
        EXPECT_EQ(fileBytes(file), SimPhone::erasedFlashOf(1, 0x10000000, read.count));
        const std::vector<std::uint32_t> expected = afterRamLoaderReply(
            zeroLengthAfterWhole ? read.transfersWithZeroLength : read.transfers);
        EXPECT_EQ(lastTransfers(sizes, expected.size()), expected);
    }
}

// `write pds FILE read pds -o back.bin`: the write is verified, the region read back whole, and
// the region's sixteen replies taken by transfers of one reply each (and, with zero-length
// packets, the fifteen that follow all but the last reply each ending one more).
inline void tellVerifiedWriteAndRegionRead(CliRig& rig, bool zeroLengthAfterWhole,
                                           const InTransferSizes& sizes) {
    const Bytes image = patternImage(0x10000, 0x5D);
    putFile("new-pds.bin", image);
    const CliRig::Result result =
        rig.run({"write", "pds", "new-pds.bin", "read", "pds", "-o", "back.bin"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find("Verifying the written data\nSuccess\n"), std::string::npos)
        << result.out;
    EXPECT_TRUE(result.out.ends_with("Success\n")) << result.out;
    EXPECT_EQ(fileBytes("back.bin"), image);
    const std::vector<std::uint32_t> expected =
        afterRamLoaderReply(std::vector<std::uint32_t>(zeroLengthAfterWhole ? 31 : 16, 4096));
    EXPECT_EQ(lastTransfers(sizes, expected.size()), expected);
}

}  // namespace norvale::testing
