// What the USB road asks of the bulk endpoints and what it makes of their answers.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>

#include "protocol/UsbPhoneLink.h"
#include "sim/VirtualClock.h"

namespace norvale {
namespace {

struct SeenTransfer {
    // 'O' out, 'I' in, 'S' string, 'R' pipe reset (data: 1 for IN); of a queue: 'Q' submit, 'P'
    // reap, 'X' its end (size: the transfers still outstanding then)
    char kind;
    Bytes data;
    std::size_t size;
    std::uint32_t waitMs;
};

struct Answer {
    UsbStatus status = UsbStatus::done;
    Bytes data;  // delivered into the caller's buffer
    std::uint32_t takesMs = 0;
};

// A port that records every transfer and ends each with the next scripted answer.
class ScriptedPort final : public UsbPort {
public:
    ScriptedPort(VirtualClock& clock, std::uint32_t packet) : clock_(clock), packet_(packet) {}
    std::vector<SeenTransfer> seen;
    std::deque<Answer> script;

    std::vector<std::string> listPhones() override { return {}; }
    DeviceHandle open(const std::string&) override { return kInvalidDevice; }
    std::string serialNumber(const std::string&) override { return {}; }
    UsbOpenFailure openFailure(const std::string&) override { return UsbOpenFailure::gone; }
    void close(DeviceHandle) override {}
    std::uint32_t maxPacketSize(DeviceHandle) override { return packet_; }
    UsbTransfer bulkOut(DeviceHandle, std::span<const std::uint8_t> data,
                        std::uint32_t waitMs) override {
        seen.push_back({'O', Bytes(data.begin(), data.end()), data.size(), waitMs});
        const UsbTransfer sent = next({});
        return {sent.status, sent.status == UsbStatus::done ? std::uint32_t(data.size()) : 0};
    }
    UsbTransfer bulkIn(DeviceHandle, std::span<std::uint8_t> buffer,
                       std::uint32_t waitMs) override {
        seen.push_back({'I', {}, buffer.size(), waitMs});
        return next(buffer);
    }
    UsbTransfer stringDescriptor(DeviceHandle, UsbString which,
                                 std::span<std::uint8_t> buffer) override {
        seen.push_back({'S', {static_cast<std::uint8_t>(which)}, buffer.size(), 0});
        return next(buffer);
    }
    std::unique_ptr<UsbInQueue> openInQueue(DeviceHandle) override {
        return std::make_unique<Queue>(*this);
    }
    UsbStatus resetPipe(DeviceHandle, bool in) override {
        seen.push_back({'R', {static_cast<std::uint8_t>(in)}, 0, 0});
        return UsbStatus::done;
    }
    void cancel(DeviceHandle) override {}
    bool waitForRemoval(const std::string&, StopToken) override { return false; }

private:
    // Each reap ends the oldest transfer with the next scripted answer.
    class Queue final : public UsbInQueue {
    public:
        explicit Queue(ScriptedPort& port) : port_(port) {}
        ~Queue() override { port_.seen.push_back({'X', {}, outstanding_.size(), 0}); }
        bool submit(std::uint32_t size) override {
            port_.seen.push_back({'Q', {}, size, 0});
            outstanding_.push_back(size);
            return true;
        }
        UsbReaped reap(std::uint32_t waitMs) override {
            port_.seen.push_back({'P', {}, 0, waitMs});
            buffer_.resize(outstanding_.empty() ? 0 : outstanding_.front());
            const UsbTransfer ended = port_.next(buffer_);
            if (ended.status != UsbStatus::timedOut && !outstanding_.empty()) {
                outstanding_.pop_front();
            }
            return {ended, std::span(buffer_).first(ended.transferred)};
        }

    private:
        ScriptedPort& port_;
        Bytes buffer_;
        std::deque<std::uint32_t> outstanding_;  // the sizes of the transfers in flight
    };

    UsbTransfer next(std::span<std::uint8_t> buffer) {
        Answer answer = script.empty() ? Answer{} : script.front();
        if (!script.empty()) script.pop_front();
        clock_.sleep(answer.takesMs);
        const std::size_t n = std::min(answer.data.size(), buffer.size());
        std::copy_n(answer.data.begin(), n, buffer.begin());
        return {answer.status, static_cast<std::uint32_t>(n)};
    }
    VirtualClock& clock_;
    std::uint32_t packet_;
};

const DeviceHandle kDevice{7};

TEST(UsbPhoneLink, WritesTheDataAsItIsWithTheWaitOrItsOwnLimitForZero) {
    VirtualClock clock;
    ScriptedPort port(clock, 64);
    const UsbPhoneLink link(port, clock);
    EXPECT_TRUE(link.writePipe(kDevice, kPipe, rqhwPacket, 60000));
    EXPECT_TRUE(link.writePipe(kDevice, kPipe, std::array<std::uint8_t, 1>{'Z'}, 0));
    port.script.push_back({UsbStatus::timedOut, {}, 5000});
    EXPECT_FALSE(link.writePipe(kDevice, kPipe, std::array<std::uint8_t, 1>{'B'}, 0));
    // The write that failed resets the OUT pipe before the call returns.
    ASSERT_EQ(port.seen.size(), 4u);
    EXPECT_EQ(port.seen[3].kind, 'R');
    EXPECT_EQ(port.seen[3].data, Bytes{0});
    EXPECT_EQ(port.seen[0].data, (Bytes{0x02, 0x52, 0x51, 0x48, 0x57, 0x03}));
    EXPECT_EQ(port.seen[0].waitMs, 60000u);
    EXPECT_EQ(port.seen[1].data, (Bytes{'Z'}));
    EXPECT_EQ(port.seen[1].waitMs, kUsbZeroWaitLimitMs);
}

TEST(UsbPhoneLink, ReadsWholePacketsAndCutsTheReplyToWhatWasAskedFor) {
    EXPECT_EQ(bulkInRequestSize(5, 64), 64u);
    EXPECT_EQ(bulkInRequestSize(4096, 64), 4096u);
    EXPECT_EQ(bulkInRequestSize(1024, 512), 1024u);
    EXPECT_EQ(bulkInRequestSize(32, 512), 512u);
    EXPECT_EQ(bulkInRequestSize(0, 64), 64u);
    EXPECT_EQ(bulkInRequestSize(32, 0), 0u);

    VirtualClock clock;
    ScriptedPort port(clock, 64);
    const UsbPhoneLink link(port, clock);
    port.script.push_back({UsbStatus::done, Bytes(40, 0x31)});
    const ReadReply reply = link.readPipe(kDevice, kPipe, 32, 0);
    EXPECT_TRUE(reply.completed);
    EXPECT_EQ(reply.data, Bytes(32, 0x31));
    EXPECT_EQ(port.seen[0].size, 64u);
    EXPECT_EQ(port.seen[0].waitMs, kUsbZeroWaitLimitMs);
}

TEST(UsbPhoneLink, AZeroLengthPacketIsNoReplyAndNoCallWaitsPastItsTime) {
    VirtualClock clock;
    ScriptedPort port(clock, 64);
    const UsbPhoneLink link(port, clock);
    // Zero-length packets, then the reply: the wait left shrinks as time passes.
    port.script.push_back({UsbStatus::done, {}, 300});
    port.script.push_back({UsbStatus::done, {}, 200});
    port.script.push_back({UsbStatus::done, {'A', 'C', 'K'}, 0});
    EXPECT_EQ(link.readPipe(kDevice, kPipe, 1024, 20000).data, (Bytes{'A', 'C', 'K'}));
    ASSERT_EQ(port.seen.size(), 3u);
    EXPECT_EQ(port.seen[1].waitMs, 19700u);
    EXPECT_EQ(port.seen[2].waitMs, 19500u);

    // Only a zero-length packet before the time ran out: the phone answered with nothing.
    port.script.push_back({UsbStatus::done, {}, 100});
    port.script.push_back({UsbStatus::timedOut, {}, 4900});
    const ReadReply empty = link.readPipe(kDevice, kPipe, 5, 0);
    EXPECT_TRUE(empty.completed);
    EXPECT_TRUE(empty.data.empty());

    // No answer at all, a stall or a removal: the read failed.
    for (const UsbStatus status : {UsbStatus::timedOut, UsbStatus::stalled, UsbStatus::gone}) {
        port.script.push_back({status, {}, 0});
        EXPECT_FALSE(link.readPipe(kDevice, kPipe, 12, 0).completed);
    }
    // Zero-length packets that use up the whole wait end the read too.
    port.script.assign(3, Answer{UsbStatus::done, {}, 2000});
    const std::size_t before = port.seen.size();
    EXPECT_TRUE(link.readPipe(kDevice, kPipe, 5, 0).completed);
    EXPECT_EQ(port.seen.size() - before, 3u);

    // A reply cut by its wait time: its rest is drained with short waits until nothing comes,
    // so the next read gets its own reply.
    port.seen.clear();
    port.script.push_back({UsbStatus::timedOut, {'L', 'A'}, 0});
    port.script.push_back({UsbStatus::done, {'T', 'E'}, 0});
    port.script.push_back({UsbStatus::timedOut, {}, 0});
    port.script.push_back({UsbStatus::done, {'O', 'K'}, 0});
    EXPECT_FALSE(link.readPipe(kDevice, kPipe, 12, 1000).completed);
    ASSERT_EQ(port.seen.size(), 3u);
    EXPECT_EQ(port.seen[2].waitMs, kUsbDrainWaitMs);
    EXPECT_EQ(link.readPipe(kDevice, kPipe, 12, 1000).data, (Bytes{'O', 'K'}));
}

// A clock on which every look finds another minute gone, as for a thread that lost the processor
// between two looks, or on the simulator's shared clock while another phone's wait runs out.
class LateClock final : public Clock {
public:
    void sleep(std::uint32_t /*ms*/) override {}
    std::uint64_t nowMs() const override { return looks_.fetch_add(1) * 60000; }

private:
    mutable std::atomic<std::uint64_t> looks_{0};
};

TEST(UsbPhoneLink, TimeGoneBeforeThePhoneWasAskedIsNoSilenceOfThePhone) {
    VirtualClock busClock;
    ScriptedPort port(busClock, 64);
    LateClock late;
    const UsbPhoneLink link(port, late);
    port.script.push_back({UsbStatus::done, {'A', 'C', 'K'}});
    EXPECT_EQ(link.readPipe(kDevice, kPipe, 64, 20000).data, (Bytes{'A', 'C', 'K'}));
    ASSERT_EQ(port.seen.size(), 1u);
    EXPECT_EQ(port.seen[0].waitMs, 20000u);

    port.script = {{UsbStatus::done, Bytes(4096, 1)}, {UsbStatus::done, Bytes(1, 2)}};
    {
        std::array<std::uint8_t, 4096> buffer{};
        const auto replies = link.openReplies(kDevice, kPipe, 4096 + 1, 4096, 60000);
        EXPECT_EQ(replies->next(buffer).length, 4096u);
        EXPECT_EQ(replies->next(buffer).length, 1u);
    }
    for (const SeenTransfer& seen : port.seen) {
        if (seen.kind == 'P') EXPECT_EQ(seen.waitMs, 60000u);
    }

    // Once asked, the wait still ends with its time: a zero-length packet and no time left is
    // an answer of nothing, and the phone is not asked again.
    port.seen.clear();
    port.script = {{UsbStatus::done, {}}, {UsbStatus::done, {'A', 'C', 'K'}}};
    const ReadReply empty = link.readPipe(kDevice, kPipe, 64, 20000);
    EXPECT_TRUE(empty.completed);
    EXPECT_TRUE(empty.data.empty());
    EXPECT_EQ(port.seen.size(), 1u);
}

// A request for two replies and a byte: three reads queued at once, however deep the queue may
// go, each asking for what the phone still owes, at most a reply, in whole packets. A zero-length
// packet after a reply of whole packets takes a read meant for data, and one more asks for what
// is owed. A failed read ends the stream and its queue at once, with the reads behind it still
// outstanding.
TEST(UsbPhoneLink, AReplyStreamAsksEachReadForWhatIsOwedAndNeverReadsPastTheRequest) {
    VirtualClock clock;
    ScriptedPort port(clock, 64);
    const UsbPhoneLink link(port, clock);
    const auto submitted = [&] {
        std::vector<std::size_t> sizes;
        std::string kinds;
        for (const SeenTransfer& seen : port.seen) {
            kinds += seen.kind;
            if (seen.kind == 'Q') sizes.push_back(seen.size);
        }
        return std::make_pair(kinds, sizes);
    };
    port.script = {{UsbStatus::done, Bytes(4096, 1)},
                   {UsbStatus::done, Bytes(4096, 2)},
                   {UsbStatus::done, Bytes(1, 3)}};
    std::array<std::uint8_t, 4096> buffer{};
    {
        const auto replies = link.openReplies(kDevice, kPipe, 2 * 4096 + 1, 4096, 60000);
        for (const std::size_t length : {4096u, 4096u, 1u}) {
            const StreamedReply reply = replies->next(buffer);
            EXPECT_TRUE(reply.completed);
            EXPECT_EQ(reply.length, length);
        }
        EXPECT_EQ(buffer[0], 3);
    }
    EXPECT_EQ(submitted(),
              std::make_pair(std::string("QQQPPPX"), std::vector<std::size_t>{4096, 4096, 64}));
    EXPECT_EQ(port.seen[3].waitMs, 60000u);
    EXPECT_EQ(port.seen.back().size, 0u);  // nothing was left in flight

    port.seen.clear();
    port.script = {
        {UsbStatus::done, Bytes(4096, 4)}, {UsbStatus::done, {}}, {UsbStatus::done, Bytes(64, 5)}};
    {
        const auto replies = link.openReplies(kDevice, kPipe, 4096 + 64, 4096, 60000);
        EXPECT_EQ(replies->next(buffer).length, 4096u);
        EXPECT_EQ(replies->next(buffer).length, 64u);
        EXPECT_EQ(buffer[0], 5);
    }
    EXPECT_EQ(submitted(),
              std::make_pair(std::string("QQPPQPX"), std::vector<std::size_t>{4096, 64, 64}));

    port.seen.clear();
    port.script = {{UsbStatus::done, Bytes(4096, 4)}, {UsbStatus::gone, {}}};
    const auto replies = link.openReplies(kDevice, kPipe, 8 * 4096, 4096, 0);
    EXPECT_EQ(replies->next(buffer).length, 4096u);
    EXPECT_FALSE(replies->next(buffer).completed);
    EXPECT_FALSE(replies->next(buffer).completed);
    EXPECT_EQ(submitted().first, "QQQQPQPX");
    EXPECT_EQ(port.seen.back().size, 3u);
    EXPECT_EQ(port.seen[4].waitMs, kUsbZeroWaitLimitMs);
}

TEST(UsbPhoneLink, IdentityStringsAreTheManufacturerAndProductDescriptors) {
    VirtualClock clock;
    ScriptedPort port(clock, 64);
    const UsbPhoneLink link(port, clock);
    const Bytes motorola{18, 3, 'M', 0, 'o', 0, 't', 0, 'o', 0, 'r', 0, 'o', 0, 'l', 0, 'a', 0};
    port.script.push_back({UsbStatus::done, motorola});
    port.script.push_back({UsbStatus::done, {8, 3, 0x1C, 0x04, 'A', 0, 'B', 0}});
    port.script.push_back({UsbStatus::done, {40, 3, 'X', 0}});  // says more than it holds
    EXPECT_EQ(link.queryString(kDevice, 0x0103).text, "Motorola");
    EXPECT_EQ(link.queryString(kDevice, 0x0002).text, "\x1c"
                                                      "AB");
    EXPECT_EQ(link.queryString(kDevice, 0x0002).text, "X");
    EXPECT_FALSE(link.queryString(kDevice, 0x0104).completed);
    ASSERT_EQ(port.seen.size(), 3u);
    EXPECT_EQ(port.seen[0].data, Bytes{static_cast<std::uint8_t>(UsbString::manufacturer)});
    EXPECT_EQ(port.seen[1].data, Bytes{static_cast<std::uint8_t>(UsbString::product)});
    EXPECT_EQ(decodeStringDescriptor(Bytes{4, 2, 'A', 0}), "");  // not a string descriptor
}

}  // namespace
}  // namespace norvale
