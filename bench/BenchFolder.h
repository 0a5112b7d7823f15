// The benchmark's scratch working folder, with the loader images the bootstrap reads.
#pragma once

#include <filesystem>

namespace norvale::bench {

// Makes a fresh folder under the system's temporary one holding .\bin\loader.bin,
// .\bin\LTE2_jump.bin and .\bin\ram.bin, and makes it the working directory; the previous one is
// put back and the folder removed when it goes. The working directory is the process's: one
// BenchFolder at a time, made and dropped on one thread.
class BenchFolder {
public:
    BenchFolder();
    ~BenchFolder();
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

}  // namespace norvale::bench
