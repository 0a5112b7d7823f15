// The program's UTF-8 names as std::filesystem paths and back.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace norvale {

// Every name the program holds is UTF-8. std::filesystem reads a char string in the system's
// narrow encoding, which on Windows is the ANSI code page, not UTF-8: a path made from char8_t
// is read as UTF-8 on every system. Nullopt for bytes that are no UTF-8 where that matters.
inline std::optional<std::filesystem::path> utf8Path(std::string_view name) {
    try {
        return std::filesystem::path(std::u8string(name.begin(), name.end()));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

inline std::optional<std::string> pathUtf8(const std::filesystem::path& path) {
    try {
        const std::u8string name = path.u8string();
        return std::string(name.begin(), name.end());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Makes `folder` the process's working folder; false when it can't be entered.
inline bool enterUtf8Folder(const std::string& folder) {
    const auto path = utf8Path(folder);
    if (!path) return false;
    std::error_code failed;
    std::filesystem::current_path(*path, failed);
    return !failed;
}

}  // namespace norvale
