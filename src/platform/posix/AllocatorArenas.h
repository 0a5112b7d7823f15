// How many arenas glibc's allocator may keep: set once by a program's main, before any thread.
#pragma once

#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace norvale {

// glibc gives each thread that allocates an arena of its own, up to eight a core, and an arena
// keeps what its threads freed for the next thread that takes it. A station runs two threads a
// phone (its session and its dump writer), so sixteen phones would spread their buffers over as
// many arenas, each holding its share resident after the phone is done. The sessions allocate
// their buffers once a command, not a transfer, so sharing a few arenas costs them nothing while
// the process keeps less. An operator's own MALLOC_ARENA_MAX is left as it is.
inline constexpr int kAllocatorArenas = 4;

inline void limitAllocatorArenas() {
#if defined(__GLIBC__)
    if (std::getenv("MALLOC_ARENA_MAX") ==
        nullptr) {  // NOLINT(concurrency-mt-unsafe): before threads
        mallopt(M_ARENA_MAX, kAllocatorArenas);
    }
#endif
}

}  // namespace norvale
