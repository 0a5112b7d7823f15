// The report as one HTML page a supervisor opens in any browser or prints.
#pragma once

#include <string>

#include "core/MessageCatalogue.h"
#include "report/ShiftSummary.h"

namespace norvale {

// One self-contained UTF-8 file that is well-formed XML as well as HTML: its styles inline, no
// script, nothing fetched; the charts inline SVG (phones per hour, done, failed and stopped
// stacked; failure rate per place, the flagged ones marked; failures by reason; each step's
// median and 95th percentile), then the tables the terminal shows. Styled to print on A4.
std::string reportHtml(const ShiftSummary& summary, const Shift& shift, Language language);

}  // namespace norvale
