// Which flash blocks of a write plan differ from the image, found by reading them first.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "operations/WritePlan.h"
#include "protocol/CommandContext.h"

namespace norvale {

// A command body of its own, run before a write that sends only what differs (on a real phone
// every block written costs an erase). Logs "Сравнение блоков телефона с образом", sends one read
// request for the flash that `plan` would write from `image` (planExtent()), compares each reply
// with the image as it comes, keeping nothing, and ends the loader's read with 'Z'. Then, for each
// slice in order, one line with its address: "Блок отличается от образа, будет записан: " or
// "Блок совпадает с образом, не записывается: ". Returns the slices that differ, in plan order.
//
// A failed read (a transfer, a phone that stops sending, a stop request) ends it as it ends a
// read into a file: the command has failed, no block is said to be anything, and the result is
// empty; the caller goes by the command's outcome. A plan not laid end to end is refused as an
// invalid range, with nothing sent.
std::vector<ImageSlice> findChangedSlices(CommandContext& command,
                                          const std::vector<ImageSlice>& plan,
                                          std::span<const std::uint8_t> image);

}  // namespace norvale
