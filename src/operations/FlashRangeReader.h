// Reading a range of the phone's flash into a new dump file.
#pragma once

#include "protocol/CommandContext.h"

namespace norvale {

// The body of "Прочитать данные": the flash from the Start field's address to the End field's,
// both inclusive, into a new file named by dumpFileName() in the working directory.
//
// Outcomes, each with at most one "ОШИБКА - " line:
// - Start above End (or a range of 4 GB): refused; no file, nothing sent.
// - The file can't be created (exists, unusable name, other): refused after the
//   "Чтение блока данных <name>" line; nothing sent, no existing file touched.
// - A failed transfer: ends the command at once; the file keeps what arrived.
// - A reply without data, or a failed write to the file: the file is closed and kept, the line
//   says how many bytes it holds, no "Успешно", and 'Z' still ends the loader's read.
// - Otherwise the file holds the range, "Успешно" is logged, then 'Z' is sent.
// Each reply goes to the file before the next read, so memory stays bounded by one reply.
void readRangeToFile(CommandContext& command);

}  // namespace norvale
