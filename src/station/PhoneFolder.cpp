// Safe folder names and their creation without reusing a taken one.
#include "station/PhoneFolder.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace norvale {
namespace {

constexpr std::size_t kLongestName = 48;
constexpr std::size_t kKeptOfLongName = 39;
// Folders "-2" to this one are tried before giving up: far more than one second's arrivals at
// one location, and a bound on a loop over a folder that refuses every name.
constexpr unsigned kMostSuffixes = 1000;

bool keeps(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

bool trimmed(char c) { return c == '_' || c == '.' || c == '-'; }

// FNV-1a: stable across runs and systems, so a location keeps its name.
std::uint32_t hashOf(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (const char c : text) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= 16777619u;
    }
    return hash;
}

}  // namespace

std::string locationFileName(std::string_view location) {
    std::string_view source = location;
    // "\\?\usb#vid_22b8&pid_4903#5&1a2b3c&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"
    if (const std::size_t brace = source.rfind("#{");
        brace != std::string_view::npos && source.back() == '}') {
        source = source.substr(0, brace);
    }
    std::string name;
    for (const char c : source) {
        if (keeps(c)) {
            name += c;
        } else if (name.empty() || name.back() != '_') {
            name += '_';
        }
    }
    const std::size_t first = name.find_first_not_of("_.-");
    if (first == std::string::npos) return "phone";
    name = name.substr(first, name.find_last_not_of("_.-") - first + 1);
    if (name.size() > kLongestName) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "-%08x", static_cast<unsigned>(hashOf(location)));
        name.resize(kKeptOfLongName);
        while (!name.empty() && trimmed(name.back())) name.pop_back();
        name += suffix;
    }
    return name;
}

std::string pathInFolder(const std::string& folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    return (std::filesystem::path(folder) / std::filesystem::path(name)).string();
}

std::string phoneFolderName(std::string_view location, WallTime arrived) {
    return locationFileName(location) + "-" + fileStampUtc(arrived);
}

std::optional<std::string> createPhoneFolder(const std::string& parent, std::string_view location,
                                             WallTime arrived) {
    const std::string base = phoneFolderName(location, arrived);
    for (unsigned n = 1; n <= kMostSuffixes; ++n) {
        const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
        const std::filesystem::path path =
            parent.empty() ? std::filesystem::path(name) : std::filesystem::path(parent) / name;
        std::error_code error;
        // create_directory says false, without an error, for a name some folder already has:
        // the next suffix is tried. A file of that name is an error, and is skipped as well.
        if (std::filesystem::create_directory(path, error)) return path.string();
        if (error && std::filesystem::exists(path)) continue;
        if (error) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace norvale
