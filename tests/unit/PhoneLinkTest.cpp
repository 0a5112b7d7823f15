// The driver records PhoneLink hands over and what it makes of the driver's replies.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "protocol/DriverPhoneLink.h"

namespace norvale {
namespace {

// The records and reply buffers are fixed byte layouts: nothing in them may follow the pointer
// size, so the 32-bit and the 64-bit programs (this suite is compiled into both) hand the driver
// the same bytes.
static_assert(kReadReplyBufferSize == 4101);
static_assert(kStringReplyBufferSize == 261);
static_assert(kWriteRecordOverhead == 6);
static_assert(kReadReplyPrefixSize == 4);
static_assert(std::tuple_size_v<decltype(buildPipeReadRecord(0, 0))> == 5);

struct SeenRequest {
    DeviceHandle device;
    std::uint32_t code = 0;
    Bytes input;
    std::size_t outputSize = 0;
    std::uint32_t waitMs = 0;
};

struct Completion {
    bool completed = true;
    Bytes output;  // what the driver writes at the start of the output buffer
    std::uint32_t transferred = 0;
};

// A driver that records every request and completes each with the next scripted completion.
class RecordingDriver : public DriverPort {
public:
    std::vector<SeenRequest> seen;
    std::deque<Completion> script;

    ControlResult control(DeviceHandle device, std::uint32_t code,
                          std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                          std::uint32_t waitMs) override {
        seen.push_back({device, code, Bytes(input.begin(), input.end()), output.size(), waitMs});
        if (script.empty()) return {true, 0};
        Completion next = script.front();
        script.pop_front();
        const std::size_t n = std::min(next.output.size(), output.size());
        std::copy_n(next.output.begin(), n, output.begin());
        return {next.completed, next.completed ? next.transferred : 0};
    }
    void cancel(DeviceHandle /*device*/) override {}
};

const DeviceHandle kDevice{0x1234};

Bytes withPrefix(Bytes data) {
    data.insert(data.begin(), {0xAA, 0xBB, 0xCC, 0xDD});
    return data;
}

TEST(PhoneLinkWrite, WrapsTheBytesInARecordWithLengthAndTrailingByte) {
    RecordingDriver driver;
    DriverPhoneLink link(driver);
    EXPECT_TRUE(link.writePipe(kDevice, kPipe, std::array<std::uint8_t, 1>{'Z'}, 0));
    EXPECT_TRUE(link.writePipe(kDevice, kPipe, rqhwPacket, 60000));

    ASSERT_EQ(driver.seen.size(), 2u);
    EXPECT_EQ(driver.seen[0].code, 0x80002018u);
    EXPECT_EQ(driver.seen[0].input, (Bytes{0x02, 0x01, 0x00, 0x00, 0x00, 0x5A, 0x00}));
    EXPECT_EQ(driver.seen[0].outputSize, 0u);
    EXPECT_EQ(driver.seen[0].device, kDevice);
    EXPECT_EQ(driver.seen[1].input,
              (Bytes{0x02, 0x06, 0x00, 0x00, 0x00, 0x02, 0x52, 0x51, 0x48, 0x57, 0x03, 0x00}));
    EXPECT_EQ(driver.seen[1].waitMs, 60000u);
}

TEST(PhoneLinkWrite, ReportsARequestTheDriverDidNotComplete) {
    RecordingDriver driver;
    driver.script.push_back({false, {}, 0});
    DriverPhoneLink link(driver);
    EXPECT_FALSE(link.writePipe(kDevice, kPipe, std::array<std::uint8_t, 1>{'B'}, 0));
}

TEST(PhoneLinkRead, AsksForTheCallersSizeEveryTimeWithTheWholeReplyBuffer) {
    RecordingDriver driver;
    driver.script.push_back({true, withPrefix({'J', 'M', 'P', '0', '1'}), 9});
    driver.script.push_back({true, withPrefix(Bytes(32, 0x31)), 36});
    DriverPhoneLink link(driver);

    EXPECT_EQ(link.readPipe(kDevice, kPipe, 5, 0).data, (Bytes{'J', 'M', 'P', '0', '1'}));
    EXPECT_EQ(link.readPipe(kDevice, kPipe, 32, 20000).data, Bytes(32, 0x31));
    EXPECT_TRUE(link.writePipe(kDevice, kPipe, std::array<std::uint8_t, 1>{'Z'}, 0));

    ASSERT_EQ(driver.seen.size(), 3u);
    EXPECT_EQ(driver.seen[0].code, 0x8000201Cu);
    EXPECT_EQ(driver.seen[0].input, (Bytes{0x02, 0x05, 0x00, 0x00, 0x00}));
    EXPECT_EQ(driver.seen[0].outputSize, 4101u);
    EXPECT_EQ(driver.seen[1].input, (Bytes{0x02, 0x20, 0x00, 0x00, 0x00}));
    EXPECT_EQ(driver.seen[1].outputSize, 4101u);
    EXPECT_EQ(driver.seen[1].waitMs, 20000u);
    EXPECT_EQ(driver.seen[2].input, (Bytes{0x02, 0x01, 0x00, 0x00, 0x00, 0x5A, 0x00}));
}

TEST(PhoneLinkRead, SkipsThePrefixAndCutsToTheRequestedSize) {
    Bytes full(4096);
    for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<std::uint8_t>(i * 7);
    RecordingDriver driver;
    driver.script.push_back({true, withPrefix(full), 4100});
    driver.script.push_back({true, withPrefix(Bytes(40, 0x55)), 44});
    DriverPhoneLink link(driver);

    const ReadReply whole = link.readPipe(kDevice, kPipe, 4096, 60000);
    EXPECT_TRUE(whole.completed);
    EXPECT_EQ(whole.data, full);
    EXPECT_EQ(link.readPipe(kDevice, kPipe, 32, 0).data, Bytes(32, 0x55));
}

TEST(PhoneLinkRead, ShortOrFailedRepliesYieldNothingNeverAnEarlierReply) {
    RecordingDriver driver;
    driver.script.push_back({true, withPrefix({'O', 'K'}), 6});
    driver.script.push_back({true, withPrefix({}), 4});
    driver.script.push_back({true, {0xAA, 0xBB, 0xCC}, 3});
    driver.script.push_back({true, {}, 0});
    driver.script.push_back({false, withPrefix({'X'}), 5});
    DriverPhoneLink link(driver);

    EXPECT_EQ(link.readPipe(kDevice, kPipe, 1024, 0).data, (Bytes{'O', 'K'}));
    for (int i = 0; i < 3; ++i) {
        const ReadReply reply = link.readPipe(kDevice, kPipe, 1024, 0);
        EXPECT_TRUE(reply.completed);
        EXPECT_TRUE(reply.data.empty()) << "read " << i;
    }
    const ReadReply failed = link.readPipe(kDevice, kPipe, 1024, 0);
    EXPECT_FALSE(failed.completed);
    EXPECT_TRUE(failed.data.empty());
}

TEST(DecodeReadReply, NeverBelievesACountBeyondTheBuffer) {
    const Bytes buffer = withPrefix({1, 2, 3});
    EXPECT_EQ(decodeReadReply(buffer, 0xFFFFFFFF, 4096), (Bytes{1, 2, 3}));
}

Bytes stringReply(std::uint32_t unitCount, const std::u16string& units) {
    Bytes reply{static_cast<std::uint8_t>(unitCount), static_cast<std::uint8_t>(unitCount >> 8),
                static_cast<std::uint8_t>(unitCount >> 16),
                static_cast<std::uint8_t>(unitCount >> 24)};
    for (const char16_t unit : units) {
        reply.push_back(static_cast<std::uint8_t>(unit));
        reply.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return reply;
}

TEST(PhoneLinkQuery, SendsTheSelectorAndKeepsTheLowByteOfEachUnit) {
    RecordingDriver driver;
    const Bytes flash = stringReply(14, u"Motorola Flash");
    driver.script.push_back({true, flash, static_cast<std::uint32_t>(flash.size())});
    const Bytes cyrillic = stringReply(2, u"\u041CA");
    driver.script.push_back({true, cyrillic, static_cast<std::uint32_t>(cyrillic.size())});
    DriverPhoneLink link(driver);

    EXPECT_EQ(link.queryString(kDevice, 0x0002).text, "Motorola Flash");
    EXPECT_EQ(link.queryString(kDevice, 0x0103).text, std::string("\x1c"
                                                                  "A"));
    ASSERT_EQ(driver.seen.size(), 2u);
    EXPECT_EQ(driver.seen[0].code, 0x80002010u);
    EXPECT_EQ(driver.seen[0].input, (Bytes{0x02, 0x00}));
    EXPECT_EQ(driver.seen[0].outputSize, 261u);
    EXPECT_EQ(driver.seen[0].waitMs, 5000u);
    EXPECT_EQ(driver.seen[1].input, (Bytes{0x03, 0x01}));
}

TEST(PhoneLinkQuery, TakesOnlyTheUnitsTheReplyHolds) {
    RecordingDriver driver;
    const Bytes empty = stringReply(0, u"Motorola");
    driver.script.push_back({true, empty, static_cast<std::uint32_t>(empty.size())});
    const Bytes overstated = stringReply(1000, u"Moto");
    driver.script.push_back({true, overstated, static_cast<std::uint32_t>(overstated.size())});
    const Bytes full = stringReply(500, std::u16string(200, u'x'));
    driver.script.push_back({true, full, 261});
    driver.script.push_back({false, stringReply(4, u"Moto"), 12});
    DriverPhoneLink link(driver);

    EXPECT_EQ(link.queryString(kDevice, 2).text, "");
    EXPECT_EQ(link.queryString(kDevice, 2).text, "Moto");
    EXPECT_EQ(link.queryString(kDevice, 2).text, std::string(128, 'x'));
    const StringReply failed = link.queryString(kDevice, 2);
    EXPECT_FALSE(failed.completed);
    EXPECT_EQ(failed.text, "");
}

}  // namespace
}  // namespace norvale
