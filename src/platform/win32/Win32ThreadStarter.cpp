// Detached threads with the default stack; the body lives on the heap until the thread ends.
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

}  // namespace

bool Win32ThreadStarter::start(std::function<void()> body) {
    auto heapBody = std::make_unique<std::function<void()>>(std::move(body));
    // Nothing ever waits for these threads, so the handle is closed at once; the thread runs on.
    const UniqueHandle thread{::CreateThread(nullptr, 0, runBody, heapBody.get(), 0, nullptr)};
    if (!thread) return false;
    heapBody.release();  // the thread frees it
    return true;
}

}  // namespace norvale
