// What the operator is told about a phone that has just arrived.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/CommandContext.h"

namespace norvale {

// In the working folder (FileSystem::workingFolderName).
inline constexpr char kConfigurationFile[] = "KESTRIN.ini";

inline constexpr std::uint32_t kRqhwReplySize = 32;
inline constexpr std::uint32_t kEnumReplySize = 256;

// What a phone said of itself: its bytes as the log shows them (Windows-1251).
struct PhoneIdentity {
    std::string bootVersion;
    std::string mode;
};

// Asks the phone on the session's device for its boot version (RQHW) and mode (ENUM), without
// waiting for either reply, and logs both lines; then logs the CG1 start address from the
// configuration file when that file can be read and is not empty. Runs on the UI thread on
// arrival; an invalid device gives both lines with empty texts. Returns what the lines showed.
PhoneIdentity readPhoneInfo(Services& services);

// The two exchanges on their own, each answering with the text the log shows: the boot version
// (RQHW reply offsets 18-21) and the mode (ENUM reply offsets 6-11). Neither waits for its reply.
std::string readBootVersion(const PhoneLink& link, DeviceHandle device);
std::string readMode(const PhoneLink& link, DeviceHandle device);
// The CG1 start address's text from the configuration file, as its line shows it; nullopt when
// the file can't be read or is empty (the arrival then has no such line).
std::optional<std::string> readCg1Start(FileSystem& files);

}  // namespace norvale
