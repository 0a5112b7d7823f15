// norvale-cli report: station journals read and told as a table, a CSV file or an HTML page.
#pragma once

#include <span>
#include <string>

#include "cli/CliView.h"
#include "platform/FileSystem.h"
#include "station/ExitCode.h"

namespace norvale {

// `report JOURNAL... [--html FILE] [--csv FILE] [--since TIME] [--until TIME]`: every journal is
// read (a journal that can't be opened refuses the report, exit code 4), the lines skipped in
// each are told, then the table is printed and the files written, each as FILE.part first and
// never over an existing file. TIME is UTC: 2026-12-08, 2026-12-08T08, 2026-12-08T08:30...;
// --since counts the phones that began at it or later, --until those that began before it.
ExitCode runReportTool(std::span<const std::string> args, FileSystem& files, CliView& view);

}  // namespace norvale
