// The DeviceIoControl binding against stand-in drivers and real kernel objects under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/win32/Win32DriverPort.h"
#include "platform/win32/Win32HandleBits.h"
#include "protocol/DriverPhoneLink.h"

namespace norvale {
namespace {

// NTSTATUS values as the I/O manager leaves them in OVERLAPPED::Internal.
constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusUnsuccessful = 0xC0000001;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;

const DeviceHandle kFakeDevice{0x4C8};

// A named pipe's listen request (not in every SDK's headers).
constexpr DWORD kPipeListen = 0x00110008;

struct SeenRequest {
    HANDLE handle = nullptr;
    DWORD code = 0;
    Bytes input;
    bool outputNull = false;
    DWORD outputSize = 0;
    bool bytesReturnedGiven = false;
    DWORD offset = 1;
    DWORD offsetHigh = 1;
    HANDLE event = nullptr;
    bool eventUnsignalled = false;  // the event was not yet signalled when the request arrived
    bool eventManualReset = false;  // it stayed signalled through two satisfied waits
    OVERLAPPED* overlapped = nullptr;
};

// The stand-in drivers are plain functions (DeviceIoControl's type), so they share this record.
struct FakeDriver {
    std::vector<SeenRequest> seen;
    Bytes reply;  // written to the start of the output buffer on completion
    DWORD transferred = 0;
    ULONG_PTR status = kStatusSuccess;
    std::vector<std::pair<HANDLE, OVERLAPPED*>> cancels;
    std::atomic<OVERLAPPED*> pending{nullptr};  // the request pendingDriver left outstanding
};
FakeDriver* fake = nullptr;

SeenRequest recordRequest(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                          DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    SeenRequest request;
    request.handle = handle;
    request.code = code;
    const auto* bytes = static_cast<const std::uint8_t*>(in);
    if (bytes != nullptr) request.input.assign(bytes, bytes + inSize);
    request.outputNull = out == nullptr;
    request.outputSize = outSize;
    request.bytesReturnedGiven = returned != nullptr;
    request.offset = overlapped->Offset;
    request.offsetHigh = overlapped->OffsetHigh;
    request.event = overlapped->hEvent;
    request.eventUnsignalled = ::WaitForSingleObject(overlapped->hEvent, 0) == WAIT_TIMEOUT;
    request.overlapped = overlapped;
    return request;
}

// Completes the request as the I/O manager does for a driver that finished it at once.
void complete(OVERLAPPED* overlapped, LPVOID out, DWORD outSize, ULONG_PTR status,
              const Bytes& reply, DWORD transferred) {
    if (out != nullptr) {
        std::copy_n(reply.begin(), std::min<std::size_t>(reply.size(), outSize),
                    static_cast<std::uint8_t*>(out));
    }
    overlapped->Internal = status;
    overlapped->InternalHigh = transferred;
    ::SetEvent(overlapped->hEvent);
}

BOOL WINAPI completingDriver(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                             DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    SeenRequest request =
        recordRequest(handle, code, in, inSize, out, outSize, returned, overlapped);
    complete(overlapped, out, outSize, fake->status, fake->reply, fake->transferred);
    request.eventManualReset = ::WaitForSingleObject(overlapped->hEvent, 0) == WAIT_OBJECT_0 &&
                               ::WaitForSingleObject(overlapped->hEvent, 0) == WAIT_OBJECT_0;
    fake->seen.push_back(request);
    if (fake->status != kStatusSuccess) {
        ::SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    if (returned != nullptr) *returned = fake->transferred;
    return TRUE;
}

BOOL WINAPI rejectingDriver(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                            DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    fake->seen.push_back(
        recordRequest(handle, code, in, inSize, out, outSize, returned, overlapped));
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

// Accepts the request and leaves it outstanding; only a cancel ends it.
BOOL WINAPI pendingDriver(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                          DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    fake->seen.push_back(
        recordRequest(handle, code, in, inSize, out, outSize, returned, overlapped));
    overlapped->Internal = kStatusPending;
    fake->pending = overlapped;
    ::SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL WINAPI cancellingDriver(HANDLE handle, LPOVERLAPPED overlapped) {
    fake->cancels.emplace_back(handle, overlapped);
    overlapped->Internal = kStatusCancelled;
    overlapped->InternalHigh = 0;
    ::SetEvent(overlapped->hEvent);
    return TRUE;
}

BOOL WINAPI unexpectedCancel(HANDLE handle, LPOVERLAPPED overlapped) {
    fake->cancels.emplace_back(handle, overlapped);
    return FALSE;
}

bool eventClosed(HANDLE event) {
    DWORD flags = 0;
    return !::GetHandleInformation(event, &flags);
}

class Win32DriverPortTest : public ::testing::Test {
protected:
    void SetUp() override { fake = &driver; }
    void TearDown() override { fake = nullptr; }

    FakeDriver driver;
};

TEST_F(Win32DriverPortTest, HandsEachRecordToTheDriverWithAFreshManualResetEvent) {
    Win32DriverPort port(completingDriver, unexpectedCancel);
    const DriverPhoneLink link(port);

    driver.transferred = 0;
    const Bytes z{'Z'};
    EXPECT_TRUE(link.writePipe(kFakeDevice, kPipe, z, 0));
    ASSERT_EQ(driver.seen.size(), 1u);
    EXPECT_TRUE(eventClosed(driver.seen[0].event));

    driver.reply = {0xAA, 0xBB, 0xCC, 0xDD, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
    driver.transferred = 9;  // the prefix and five data bytes; the tenth byte is not delivered
    const ReadReply read = link.readPipe(kFakeDevice, kPipe, 32, 20000);
    ASSERT_EQ(driver.seen.size(), 2u);
    EXPECT_TRUE(eventClosed(driver.seen[1].event));
    EXPECT_TRUE(read.completed);
    EXPECT_EQ(read.data, (Bytes{0x10, 0x20, 0x30, 0x40, 0x50}));

    driver.reply = {14, 0, 0, 0};
    for (const char c : std::string("Motorola Flash")) {
        driver.reply.insert(driver.reply.end(), {static_cast<std::uint8_t>(c), 0});
    }
    driver.transferred = static_cast<DWORD>(driver.reply.size());
    const StringReply text = link.queryString(kFakeDevice, 0x0103);
    ASSERT_EQ(driver.seen.size(), 3u);
    EXPECT_TRUE(eventClosed(driver.seen[2].event));
    EXPECT_TRUE(text.completed);
    EXPECT_EQ(text.text, "Motorola Flash");

    const SeenRequest& write = driver.seen[0];
    EXPECT_EQ(write.code, kIoctlPipeWrite);
    EXPECT_EQ(write.input, (Bytes{0x02, 0x01, 0x00, 0x00, 0x00, 0x5A, kWriteRecordTrailer}));
    EXPECT_TRUE(write.outputNull);
    EXPECT_EQ(write.outputSize, 0u);
    EXPECT_FALSE(write.bytesReturnedGiven);

    EXPECT_EQ(driver.seen[1].code, kIoctlPipeRead);
    EXPECT_EQ(driver.seen[1].input, (Bytes{0x02, 0x20, 0x00, 0x00, 0x00}));
    EXPECT_FALSE(driver.seen[1].outputNull);
    EXPECT_EQ(driver.seen[1].outputSize, 4101u);
    EXPECT_FALSE(driver.seen[1].bytesReturnedGiven);

    EXPECT_EQ(driver.seen[2].code, kIoctlGetString);
    EXPECT_EQ(driver.seen[2].input, (Bytes{0x03, 0x01}));
    EXPECT_EQ(driver.seen[2].outputSize, 261u);
    EXPECT_TRUE(driver.seen[2].bytesReturnedGiven);

    for (const SeenRequest& request : driver.seen) {
        EXPECT_EQ(request.handle, toHandle(kFakeDevice));
        EXPECT_EQ(request.offset, 0u);
        EXPECT_EQ(request.offsetHigh, 0u);
        EXPECT_NE(request.event, nullptr);
        EXPECT_TRUE(request.eventUnsignalled);
        EXPECT_TRUE(request.eventManualReset);
    }
    EXPECT_TRUE(driver.cancels.empty());
}

TEST_F(Win32DriverPortTest, ACompletionThatReportsFailureDeliversNothing) {
    Win32DriverPort port(completingDriver, unexpectedCancel);
    driver.status = kStatusUnsuccessful;
    driver.reply = {0, 0, 0, 0, 0x41, 0x42};
    driver.transferred = 6;
    std::vector<std::uint8_t> output(kReadReplyBufferSize);
    const ControlResult result =
        port.control(kFakeDevice, kIoctlPipeRead, buildPipeReadRecord(kPipe, 2), output, 1000);
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(result.transferred, 0u);
    EXPECT_EQ(DriverPhoneLink(port).readPipe(kFakeDevice, kPipe, 2, 1000).data, Bytes{});
}

TEST_F(Win32DriverPortTest, ARejectedRequestReturnsAtOnceWhateverTheWaitTime) {
    Win32DriverPort port(rejectingDriver, unexpectedCancel);
    const Bytes record = buildPipeWriteRecord(kPipe, Bytes{'S'});
    const ULONGLONG start = ::GetTickCount64();
    const ControlResult result = port.control(kFakeDevice, kIoctlPipeWrite, record, {}, 60000);
    const ULONGLONG elapsed = ::GetTickCount64() - start;

    EXPECT_FALSE(result.completed);
    EXPECT_LT(elapsed, 1000u);
    ASSERT_EQ(driver.seen.size(), 1u);
    EXPECT_EQ(driver.seen[0].input,
              (Bytes{0x02, 0x01, 0x00, 0x00, 0x00, 'S', kWriteRecordTrailer}));
    EXPECT_TRUE(eventClosed(driver.seen[0].event));
    EXPECT_TRUE(driver.cancels.empty());
}

TEST_F(Win32DriverPortTest, TheRealDeviceIoControlOnTheInvalidHandleFailsAtOnce) {
    Win32DriverPort port;
    ASSERT_EQ(toHandle(kInvalidDevice), INVALID_HANDLE_VALUE);
    const Bytes record = buildPipeWriteRecord(kPipe, Bytes{'Z'});
    const ULONGLONG start = ::GetTickCount64();
    const ControlResult result = port.control(kInvalidDevice, kIoctlPipeWrite, record, {}, 60000);
    EXPECT_FALSE(result.completed);
    EXPECT_LT(::GetTickCount64() - start, 1000u);
}

TEST_F(Win32DriverPortTest, ARequestStillPendingAfterTheWaitIsCancelledBeforeReturning) {
    Win32DriverPort port(pendingDriver, cancellingDriver);
    std::vector<std::uint8_t> output(kReadReplyBufferSize);
    const ULONGLONG start = ::GetTickCount64();
    const ControlResult result =
        port.control(kFakeDevice, kIoctlPipeRead, buildPipeReadRecord(kPipe, 32), output, 200);
    const ULONGLONG elapsed = ::GetTickCount64() - start;

    EXPECT_FALSE(result.completed);
    EXPECT_EQ(result.transferred, 0u);
    EXPECT_GE(elapsed, 150u);  // the wait ran (tick granularity allowed for)
    EXPECT_LT(elapsed, 5000u);
    ASSERT_EQ(driver.seen.size(), 1u);
    ASSERT_EQ(driver.cancels.size(), 1u);
    EXPECT_EQ(driver.cancels[0].first, toHandle(kFakeDevice));
    EXPECT_EQ(driver.cancels[0].second, driver.seen[0].overlapped);
    EXPECT_TRUE(eventClosed(driver.seen[0].event));
}

TEST_F(Win32DriverPortTest, ACompletionArrivingDuringTheWaitEndsTheWait) {
    Win32DriverPort port(pendingDriver, unexpectedCancel);
    std::vector<std::uint8_t> output(kReadReplyBufferSize);
    std::thread completer([&] {
        // Completes the request the way an interrupt-time completion would, from elsewhere.
        while (driver.pending == nullptr) ::Sleep(10);
        ::Sleep(100);
        complete(driver.pending, output.data(), static_cast<DWORD>(output.size()), kStatusSuccess,
                 Bytes{1, 2, 3, 4, 0x5A, 0xA5}, 6);
    });
    const ULONGLONG start = ::GetTickCount64();
    const ControlResult result =
        port.control(kFakeDevice, kIoctlPipeRead, buildPipeReadRecord(kPipe, 2), output, 30000);
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    completer.join();

    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.transferred, 6u);
    EXPECT_EQ(decodeReadReply(output, result.transferred, 2), (Bytes{0x5A, 0xA5}));
    EXPECT_LT(elapsed, 10000u);
    EXPECT_TRUE(driver.cancels.empty());
}

// A named pipe's listen request is a real control request that stays pending until a client
// connects: it drives the real DeviceIoControl, wait and CancelIoEx path without any fake.
class Win32DriverPortRealPendingTest : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = "\\\\.\\pipe\\norvale-driverport-" + std::to_string(::GetCurrentProcessId());
        pipe_ = ::CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
        ASSERT_NE(pipe_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (pipe_ != INVALID_HANDLE_VALUE) ::CloseHandle(pipe_);
    }

    std::string name_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

TEST_F(Win32DriverPortRealPendingTest, IsCancelledAfterTheWaitAndCanBeIssuedAgain) {
    Win32DriverPort port;
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(port.control(toDeviceHandle(pipe_), kPipeListen, {}, {}, 200).completed);
    EXPECT_GE(::GetTickCount64() - start, 150u);

    // The same handle then takes a listen that a client completes within the wait.
    std::atomic<bool> connected{false};
    std::thread client([&] {
        ::Sleep(100);
        HANDLE end = ::CreateFileA(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        connected = end != INVALID_HANDLE_VALUE;
        ::Sleep(200);
        if (connected) ::CloseHandle(end);
    });
    const ControlResult second = port.control(toDeviceHandle(pipe_), kPipeListen, {}, {}, 30000);
    client.join();
    EXPECT_TRUE(connected);
    EXPECT_TRUE(second.completed);
}

// A stop from another thread ends a request the driver never completes long before its wait,
// on the overlapped handle the interfaces are opened with. The canceller keeps cancelling until
// the request has ended, since one cancel may come before the request was issued.
TEST_F(Win32DriverPortRealPendingTest, CancelFromAnotherThreadEndsAPendingRequestAtOnce) {
    Win32DriverPort port;
    std::atomic<bool> ended{false};
    std::thread stopper([&] {
        while (!ended.load()) {
            port.cancel(toDeviceHandle(pipe_));
            ::Sleep(10);
        }
    });
    const ULONGLONG start = ::GetTickCount64();
    const ControlResult result = port.control(toDeviceHandle(pipe_), kPipeListen, {}, {}, 60000);
    ended = true;
    stopper.join();
    EXPECT_FALSE(result.completed);
    EXPECT_LT(::GetTickCount64() - start, 5000u);
}

}  // namespace
}  // namespace norvale
