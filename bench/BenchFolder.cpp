// The benchmark's scratch folder.
#include "BenchFolder.h"

#include <atomic>
#include <chrono>
#include <string>

#include "BenchPhone.h"

namespace norvale::bench {

BenchFolder::BenchFolder() : previous_(std::filesystem::current_path()) {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("norvale-bench-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_ / "bin");
    std::filesystem::current_path(path_);
    putFile("bin/loader.bin", patternBytes(3000, 0x11));
    putFile("bin/LTE2_jump.bin", patternBytes(100, 0x22));
    putFile("bin/ram.bin", patternBytes(2048, 0x33));
}

BenchFolder::~BenchFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace norvale::bench
