// The settings file in the operator's profile.
#include "ui/win32/Win32SettingsFile.h"

#include <windows.h>

#include "platform/win32/WideName.h"
#include "platform/win32/Win32Handles.h"

namespace norvale {
namespace {

// Settings are a few hundred bytes; anything far larger is not ours.
constexpr DWORD kLargestSettings = 1 << 20;

}  // namespace

Win32SettingsFile Win32SettingsFile::inProfile() {
    wchar_t appData[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
    // Without a profile the settings stay beside wherever the program runs.
    if (length == 0 || length >= MAX_PATH) return Win32SettingsFile(L"Norvale");
    return Win32SettingsFile(std::wstring(appData) + L"\\Norvale");
}

std::optional<std::string> Win32SettingsFile::load() {
    const std::wstring path = folder_ + L"\\station.ini";
    UniqueFile file{CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargestSettings) return std::nullopt;
    std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr)) {
        return std::nullopt;
    }
    text.resize(read);
    // The file is UTF-8; one written before held its paths in the ANSI code page, which is read
    // as such once, and saved as UTF-8 from then on.
    if (!isUtf8(text)) return utf8Name(wideName(text, CP_ACP).value_or(L""));
    return text;
}

bool Win32SettingsFile::save(std::string_view text) {
    CreateDirectoryW(folder_.c_str(), nullptr);
    const std::wstring path = folder_ + L"\\station.ini";
    const std::wstring part = path + L".part";
    {
        UniqueFile file{CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr)};
        if (!file) return false;
        DWORD written = 0;
        if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                       nullptr) ||
            written != text.size() || !FlushFileBuffers(file.get())) {
            return false;
        }
    }
    return MoveFileExW(part.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace norvale
