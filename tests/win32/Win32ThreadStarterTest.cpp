// Threads started through CreateThread, the owners that close Win32 handles, and the places'
// named mutexes.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>

#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32NamedLocks.h"
#include "platform/win32/Win32ThreadStarter.h"

namespace norvale {
namespace {

bool isOpen(HANDLE handle) {
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != FALSE;
}

TEST(Win32ThreadStarterTest, RunsTheBodyOnANewThreadAndFreesItAfterwards) {
    Win32ThreadStarter threads;
    const UniqueHandle ran{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    ASSERT_TRUE(ran);
    DWORD bodyThread = 0;
    auto token = std::make_shared<int>(0);  // held by the body; freed with it

    ASSERT_TRUE(threads.start([&bodyThread, &ran, token] {
        bodyThread = ::GetCurrentThreadId();
        ::SetEvent(ran.get());
    }));
    ASSERT_EQ(::WaitForSingleObject(ran.get(), 10000), WAIT_OBJECT_0);
    EXPECT_NE(bodyThread, ::GetCurrentThreadId());
    for (int i = 0; i < 500 && token.use_count() > 1; ++i) ::Sleep(10);
    EXPECT_EQ(token.use_count(), 1);
}

// An owned thread: join() returns once the body and what it held are gone; its owner's going
// waits for it too.
TEST(Win32ThreadStarterTest, AJoinableThreadIsWaitedForByJoinAndByItsOwnersEnd) {
    Win32ThreadStarter threads;
    auto token = std::make_shared<int>(0);
    std::atomic<bool> finished{false};
    std::unique_ptr<JoinableThread> thread = threads.startJoinable([&finished, token] {
        ::Sleep(200);
        finished = true;
    });
    ASSERT_NE(thread, nullptr);
    thread->join();
    EXPECT_TRUE(finished);
    EXPECT_EQ(token.use_count(), 1);
    thread->join();  // at once

    finished = false;
    thread = threads.startJoinable([&finished] {
        ::Sleep(200);
        finished = true;
    });
    ASSERT_NE(thread, nullptr);
    thread.reset();
    EXPECT_TRUE(finished);
}

TEST(Win32HandlesTest, EachHandleIsClosedOnceByWhicheverOwnerHoldsIt) {
    HANDLE raw = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    {
        UniqueHandle first{raw};
        UniqueHandle second{std::move(first)};
        EXPECT_FALSE(first);
        EXPECT_EQ(second.get(), raw);
        {
            UniqueHandle third;
            third = std::move(second);
        }
        EXPECT_FALSE(isOpen(raw));
    }

    // A failed CreateFileA is not an open file, and the owner leaves it alone.
    UniqueFile missing{::CreateFileA("Z:\\norvale\\no\\such\\file", GENERIC_READ, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr)};
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(UniqueHkey{});
    EXPECT_FALSE(UniqueDevInfo{});
}

// A place's mutex is in the Global namespace, so another session of the computer sees it: while
// one hold has it, a second is refused as held elsewhere, in this process as in any other, and
// the name is free again once no handle to it is open.
TEST(Win32NamedLocksTest, APlaceHeldIsRefusedToASecondHoldUntilTheFirstGoes) {
    Win32NamedLocks places;
    const std::string name = "norvale-test-" + std::to_string(::GetCurrentProcessId());
    LockAttempt first = places.tryHold(name);
    ASSERT_TRUE(first.hold);
    UniqueHandle seen{::OpenMutexW(SYNCHRONIZE, FALSE,
                                   (L"Global\\" + std::wstring(name.begin(), name.end())).c_str())};
    EXPECT_TRUE(seen);  // by that name, where another program looks for it
    const LockAttempt second = places.tryHold(name);
    EXPECT_FALSE(second.hold);
    EXPECT_TRUE(second.heldElsewhere);
    // A named object lives while any handle to it is open, this one too.
    first.hold.reset();
    EXPECT_TRUE(places.tryHold(name).heldElsewhere);
    seen.reset();
    EXPECT_TRUE(places.tryHold(name).hold);
}

}  // namespace
}  // namespace norvale
