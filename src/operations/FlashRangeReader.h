// Reading a range of the phone's flash into a new dump file.
#pragma once

#include "protocol/CommandContext.h"

namespace norvale {

// The body of "Прочитать данные": the flash from the Start field's address to the End field's,
// both inclusive, into a new file named by dumpFileName() in the working directory. The bytes go
// to that name plus ".part", which takes the name only once the dump is whole and closed; nothing
// is ever overwritten or renamed over.
//
// Outcomes, each with at most one "ОШИБКА - " line:
// - Start above End (or a range of 4 GB): refused; no file, nothing sent.
// - The name or its ".part" name is taken, or the file can't be created (unusable name, other):
//   refused after the "Чтение блока данных <name>" line, naming the file; nothing sent, no
//   existing file touched.
// - A failed transfer: ends the command at once; the ".part" file keeps what arrived.
// - A reply without data, or a failed write to the file: the ".part" file is closed and kept,
//   the line says how many bytes it holds and names it, no "Успешно", and 'Z' still ends the
//   loader's read.
// - The whole range saved, but the name can't be given (taken meanwhile, or the rename failed):
//   the line names both files, the dump stays under ".part", 'Z' is sent, no "Успешно".
// - Otherwise the file holds the range under its name, then 'Z' is sent, then "Успешно".
// The replies go to the file on a thread of the dump's own, through a fixed set of buffers, so a
// slow disk does not hold up the transfers and memory stays flat whatever the range's size.
void readRangeToFile(CommandContext& command);

}  // namespace norvale
