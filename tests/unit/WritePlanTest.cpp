// The slices each write command sends: the fixed regions and the walk of the block range.
#include <gtest/gtest.h>

#include "operations/WritePlan.h"

namespace norvale {
namespace {

using Slices = std::vector<ImageSlice>;

TEST(WritePlan, FixedRegionsTakeTheImageFromItsFirstByte) {
    EXPECT_EQ(bootSlices(), (Slices{{0x10000000, 0, 0x8000}, {0x10008000, 0x8000, 0x10000}}));
    EXPECT_EQ(pdsSlices(), (Slices{{0x10010000, 0, 0x8000}, {0x10018000, 0x8000, 0x10000}}));
    EXPECT_EQ(panicSlices(), (Slices{{0x10020000, 0, 0x20000}}));
}

TEST(WritePlan, BlockRangeWalksUnalignedBlocksSizedByTheirOwnStart) {
    EXPECT_EQ(blockRangeSlices(0x10000000, 0x1003FFFF), (Slices{{0x10000000, 0x00000, 0x08000},
                                                                {0x10008000, 0x08000, 0x10000},
                                                                {0x10010000, 0x10000, 0x18000},
                                                                {0x10018000, 0x18000, 0x20000},
                                                                {0x10020000, 0x20000, 0x40000}}));
    EXPECT_EQ(blockRangeSlices(0x1001C000, 0x10030000),
              (Slices{{0x1001C000, 0x0000, 0x8000}, {0x10024000, 0x8000, 0x28000}}));
    // The fields' initial texts give the same slices as the PDS command.
    EXPECT_EQ(blockRangeSlices(0x10010000, 0x1001FFFF), pdsSlices());
    // End inside a block: that block is still written whole.
    EXPECT_EQ(blockRangeSlices(0x10010000, 0x10010000), (Slices{{0x10010000, 0, 0x8000}}));
}

TEST(WritePlan, BlockRangeWithNothingToWriteIsEmpty) {
    EXPECT_EQ(blockRangeSlices(0x10030000, 0x10010000), Slices{});
    // End + 1 wraps to 0, which every Start below 0x80000000 is not below.
    EXPECT_EQ(blockRangeSlices(0x10010000, 0xFFFFFFFF), Slices{});
}

TEST(WritePlan, ABlockRangeThroughTheTopOfTheAddressSpaceIsRefusedNotWalkedForever) {
    // 7FFE0000 + 128 KB wraps to 80000000, a negative address below End + 1 again.
    EXPECT_EQ(blockRangeSlices(0x7FFE0000, 0x7FFFFFFE), std::nullopt);
    // The longest walk that ends still fits 32-bit image offsets.
    const auto widest = blockRangeSlices(0x80000000, 0x7FFDFFFF);
    ASSERT_TRUE(widest);
    EXPECT_EQ(widest->back(), (ImageSlice{0x7FFC0000, 0xFFFC0000, 0xFFFE0000}));
    // Negative addresses take 32 KB blocks up to 10020000.
    const auto slices = blockRangeSlices(0xFFFF8000, 0x00007FFF);
    ASSERT_TRUE(slices);
    EXPECT_EQ(*slices, (Slices{{0xFFFF8000, 0, 0x8000}, {0x00000000, 0x8000, 0x10000}}));
}

TEST(WritePlan, MinimumImageGivesTheLastChunkOneByte) {
    EXPECT_EQ(minimumImageSize(pdsSlices()), 0xF001u);
    EXPECT_EQ(minimumImageSize(panicSlices()), 0x1F001u);
    EXPECT_EQ(minimumImageSize(*blockRangeSlices(0x10000000, 0x1003FFFF)), 0x3F001u);
    EXPECT_EQ(minimumImageSize({}), 0u);
}

}  // namespace
}  // namespace norvale
