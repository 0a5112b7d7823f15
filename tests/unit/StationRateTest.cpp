// The station's rate: the longest phone sets the time, unless the processors could not keep up.
#include <gtest/gtest.h>

#include "bench/StationRate.h"

namespace norvale::bench {
namespace {

TEST(StationRate, TheLongestPhoneSetsTheTimeUnlessTheCoresFallShort) {
    StationTime station;
    station.cores = 2;
    station.phones = {{1000, 100, 2}, {1000, 100, 5}, {1000, 98, 1}};
    station.ownCpuMs = 30;  // 15 ms on each core: well inside the 105 ms
    EXPECT_DOUBLE_EQ(station.stationMs(), 105);
    EXPECT_DOUBLE_EQ(station.bytesPerMs(), 3000.0 / 105);

    // 300 ms of work for two cores is 150 ms: the phones wait for the processors.
    station.ownCpuMs = 300;
    EXPECT_DOUBLE_EQ(station.stationMs(), 150);
    EXPECT_DOUBLE_EQ(station.bytesPerMs(), 20);

    // Against three times a one-phone rate of 10 bytes/ms (1000 bytes in 100 ms).
    EXPECT_DOUBLE_EQ(shareOfScaledRate(station.bytesPerMs(), 3, 10), 20.0 / 30);
    EXPECT_DOUBLE_EQ(shareOfScaledRate(15, 0, 10), 0);
}

TEST(StationRate, NoPhonesMoveNothing) {
    StationTime station;
    station.cores = 0;  // taken as one
    EXPECT_DOUBLE_EQ(station.stationMs(), 0);
    EXPECT_DOUBLE_EQ(station.bytesPerMs(), 0);
    station.ownCpuMs = 4;
    EXPECT_DOUBLE_EQ(station.stationMs(), 4);
}

}  // namespace
}  // namespace norvale::bench
