// The report for a spreadsheet: one row per phone.
#pragma once

#include <string>

#include "report/ShiftJournal.h"

namespace norvale {

// A heading row, then per phone, in the journals' order: started, ended (the journal's UTC
// times), location, road, serial, result (done, failed or stopped), reason, exit_code, recipe,
// recipe_sha256, bytes, ms. Fields are quoted as RFC 4180 has it when they hold a comma, a quote
// or a line end; lines end in CRLF. A text field that begins with = + - @ or a tab is quoted
// with an apostrophe before it, so no spreadsheet takes it for a formula.
std::string reportCsv(const Shift& shift);

}  // namespace norvale
