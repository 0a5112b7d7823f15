// The report on a terminal: a few short tables, UTF-8 lines.
#pragma once

#include <string>
#include <vector>

#include "core/MessageCatalogue.h"
#include "report/ShiftSummary.h"

namespace norvale {

// The sections in order: period, phones, by place (flagged places marked), by reason, by recipe,
// by hour, step durations, flash bytes moved. Columns line up by characters, not bytes, so the
// Russian ones do too.
std::vector<std::string> reportTable(const ShiftSummary& summary, Language language);

// Shared by the table and the page.
std::string percentText(double fraction);                     // "37.5%"
std::string secondsText(double ms);                           // "12.3"
std::string bytesText(std::uint64_t bytes);                   // "12.6 MB"
std::string rateText(std::uint64_t bytes, std::uint64_t ms);  // "845.3 KB/s"
std::string shortDigest(const std::string& sha256);           // its first 12 digits

}  // namespace norvale
