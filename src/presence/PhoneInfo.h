// What the operator is told about a phone that has just arrived.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "protocol/CommandContext.h"

namespace norvale {

inline constexpr char kConfigurationFile[] = ".\\KESTRIN.ini";

inline constexpr std::uint32_t kRqhwReplySize = 32;
inline constexpr std::uint32_t kEnumReplySize = 256;

// The `count` bytes of `bytes` from `offset`, ending early at the first zero byte or at the end
// of `bytes`: replies and files may be shorter than the field.
std::string textField(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t count);

// Asks the phone on the session's device for its boot version (RQHW) and mode (ENUM), without
// waiting for either reply, and logs both lines; then logs the CG1 start address from the
// configuration file when that file can be read and is not empty. Runs on the UI thread on
// arrival; an invalid device gives both lines with empty texts.
void readPhoneInfo(Services& services);

}  // namespace norvale
