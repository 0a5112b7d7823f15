// Move-only owners for the Win32 handle kinds the bindings hold, each with its own invalid value.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <utility>

namespace norvale {

// One owner type per handle kind: the traits say what "no handle" is and how a handle is given
// back, so an event can't be closed as a registry key and a failed CreateFileA
// (INVALID_HANDLE_VALUE) is never taken for an open file. Owners move but never copy, so every
// handle is released exactly once.
template <typename Traits>
class UniqueResource {
public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    Value get() const { return value_; }
    bool valid() const { return value_ != Traits::invalid(); }
    explicit operator bool() const { return valid(); }

    // Hands the handle to the caller, who now releases it.
    Value release() { return std::exchange(value_, Traits::invalid()); }

    void reset(Value value = Traits::invalid()) {
        const Value old = std::exchange(value_, value);
        if (old != Traits::invalid()) Traits::close(old);
    }

    // For APIs that return a handle through an out-parameter (RegOpenKeyExA).
    Value* put() {
        reset();
        return &value_;
    }

private:
    Value value_ = Traits::invalid();
};

// Kernel objects whose failed creation yields null: events, threads.
struct KernelHandleTraits {
    using Value = HANDLE;
    static Value invalid() { return nullptr; }
    static void close(Value value) { ::CloseHandle(value); }
};

// CreateFileA handles: failure is INVALID_HANDLE_VALUE, and null is not a valid "empty".
struct FileHandleTraits {
    using Value = HANDLE;
    static Value invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Value value) { ::CloseHandle(value); }
};

struct DevInfoTraits {
    using Value = HDEVINFO;
    static Value invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Value value) { ::SetupDiDestroyDeviceInfoList(value); }
};

struct HkeyTraits {
    using Value = HKEY;
    static Value invalid() { return nullptr; }
    static void close(Value value) { ::RegCloseKey(value); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueDevInfo = UniqueResource<DevInfoTraits>;
using UniqueHkey = UniqueResource<HkeyTraits>;

// The same owner for a binding whose system entry points are injectable: the handle goes back
// through the entry point that made it, so a fake's handle never reaches the real system call.
// The traits give the handle kind and its invalid value; the release function comes with the
// handle, returning what that entry point returns (a BOOL, or cfgmgr32's CONFIGRET).
template <typename Traits, typename Result = BOOL>
class UniqueReleasedBy {
public:
    using Value = typename Traits::Value;
    using Release = Result(WINAPI*)(Value);

    UniqueReleasedBy() = default;
    UniqueReleasedBy(Value value, Release release) : value_(value), release_(release) {}
    UniqueReleasedBy(const UniqueReleasedBy&) = delete;
    UniqueReleasedBy& operator=(const UniqueReleasedBy&) = delete;
    UniqueReleasedBy(UniqueReleasedBy&& other) noexcept
        : value_(std::exchange(other.value_, Traits::invalid())), release_(other.release_) {}
    UniqueReleasedBy& operator=(UniqueReleasedBy&& other) noexcept {
        if (this != &other) {
            reset();
            value_ = std::exchange(other.value_, Traits::invalid());
            release_ = other.release_;
        }
        return *this;
    }
    ~UniqueReleasedBy() { reset(); }

    Value get() const { return value_; }
    bool valid() const { return value_ != Traits::invalid(); }
    explicit operator bool() const { return valid(); }

    void reset() {
        const Value old = std::exchange(value_, Traits::invalid());
        if (old != Traits::invalid() && release_ != nullptr) release_(old);
    }

private:
    Value value_ = Traits::invalid();
    Release release_ = nullptr;
};

}  // namespace norvale
