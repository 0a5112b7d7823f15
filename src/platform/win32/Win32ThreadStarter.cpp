// Threads with the default stack, detached or owned; the body lives on the heap until it returns.
#include "platform/win32/Win32ThreadStarter.h"

#include <windows.h>

#include <memory>

#include "platform/win32/Win32Handles.h"

namespace norvale {
namespace {

DWORD WINAPI runBody(LPVOID parameter) {
    using Body = std::function<void()>;
    const std::unique_ptr<Body> body(static_cast<Body*>(parameter));
    (*body)();
    return 0;
}

// The thread's handle, kept to wait on: the thread has ended once it is signalled.
class Win32JoinableThread final : public JoinableThread {
public:
    explicit Win32JoinableThread(UniqueHandle thread) : thread_(std::move(thread)) {}
    Win32JoinableThread(const Win32JoinableThread&) = delete;
    Win32JoinableThread& operator=(const Win32JoinableThread&) = delete;
    ~Win32JoinableThread() override { join(); }

    void join() override {
        if (!thread_) return;
        ::WaitForSingleObject(thread_.get(), INFINITE);
        thread_.reset();
    }

private:
    UniqueHandle thread_;
};

// A new thread running `*body`, which it frees; an invalid handle, with `body` still the caller's,
// when none could be made.
UniqueHandle createThread(std::unique_ptr<std::function<void()>>& body) {
    UniqueHandle thread{::CreateThread(nullptr, 0, runBody, body.get(), 0, nullptr)};
    if (thread) body.release();  // the thread frees it
    return thread;
}

}  // namespace

bool Win32ThreadStarter::start(std::function<void()> body) {
    auto heapBody = std::make_unique<std::function<void()>>(std::move(body));
    // Nothing ever waits for these threads, so the handle is closed at once; the thread runs on.
    return static_cast<bool>(createThread(heapBody));
}

std::unique_ptr<JoinableThread> Win32ThreadStarter::startJoinable(std::function<void()> body) {
    auto heapBody = std::make_unique<std::function<void()>>(std::move(body));
    UniqueHandle thread = createThread(heapBody);
    if (!thread) return nullptr;
    return std::make_unique<Win32JoinableThread>(std::move(thread));
}

}  // namespace norvale
