// The station window's settings as a UTF-8 file: %APPDATA%\Norvale\station.ini.
#pragma once

#include <string>

#include "ui/StationView.h"

namespace norvale {

// A file of the operator's own profile, so that each Windows user keeps a station of their own
// and the program's folder may be read-only. save() writes "station.ini.part", flushes it and
// moves it over the old file in one step.
class Win32SettingsFile final : public SettingsStore {
public:
    // The file in the folder %APPDATA%\Norvale (made when first saved).
    static Win32SettingsFile inProfile();
    explicit Win32SettingsFile(std::wstring folder) : folder_(std::move(folder)) {}

    std::optional<std::string> load() override;
    bool save(std::string_view text) override;

private:
    std::wstring folder_;
};

}  // namespace norvale
