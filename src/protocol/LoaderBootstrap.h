// Uploads the loader code into the phone's RAM at the start of every command.
#pragma once

#include <cstdint>

#include "protocol/CommandContext.h"

namespace norvale {

inline constexpr char kLoaderImage[] = ".\\bin\\loader.bin";
inline constexpr char kJumpImage[] = ".\\bin\\LTE2_jump.bin";
inline constexpr char kRamLoaderImage[] = ".\\bin\\ram.bin";

// Where loader.bin goes once the jump image is in (kInitialLoaderBase before: core/SessionState.h).
inline constexpr std::uint32_t kJumpLoaderBase = 0x03FEF800;
inline constexpr std::uint32_t kRamLoaderSize = 2048;

// loader.bin (and, on the first command after the phone's arrival, LTE2_jump.bin) as ADDR/BIN
// pairs, the stage reply, 'A', ram.bin and its reply. Returns true when every step completed;
// otherwise it has logged one error line (a missing or unreadable image, or a failed transfer) and
// the command's body must not run.
bool LoaderBootstrap(CommandContext& command);

// ADDR packet for the session's loaderBase + offset, then its reply.
bool sendAddress(CommandContext& command, std::uint32_t offset);

}  // namespace norvale
