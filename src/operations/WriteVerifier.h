// Reading back what a write command put into flash, compared with its image in memory.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "operations/WritePlan.h"
#include "protocol/CommandContext.h"

namespace norvale {

// A command body of its own, run after the write it checks: logs "Проверка записанных данных",
// sends one read request for the flash that `plan` wrote from `image` (the bytes of each slice
// that the image holds, bytesToSend()), and compares each reply with the image as it comes,
// keeping nothing. The first difference ends the read: the command fails with "записанные данные
// отличаются от образа, адрес: " and the address of the first differing byte, and 'Z' ends the
// loader's read as after any stopped read. Otherwise "Успешно". Transfer failures, a phone that
// stops sending and a stop request end it as they end a read into a file.
//
// The plan may be any run of a plan's slices (the blocks a changed-only write wrote, and those
// between them), but its slices must lie end to end, in flash and in the image alike
// (planExtent()); one that does not is refused as an invalid range, with nothing sent.
void verifyWrite(CommandContext& command, const std::vector<ImageSlice>& plan,
                 std::span<const std::uint8_t> image);

}  // namespace norvale
