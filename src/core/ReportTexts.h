// The words of the journal's report (its terminal table, its HTML page), in Russian and English.
#pragma once

#include <string_view>

#include "core/MessageCatalogue.h"

namespace norvale {

enum class ReportText {
    title,
    phones,
    served,
    done,
    failed,
    stopped,
    failureRate,
    byPlace,
    byReason,
    byRecipe,
    byHour,
    stepDurations,
    place,
    reason,
    recipe,
    hour,
    step,
    count,
    median,
    p95,
    flagged,
    typedChain,
    flashMoved,
    perHourChart,
    ratePerPlaceChart,
    reasonsChart,
    durationsChart,
    flagRule,
    period,
    journals,
    skippedLines,
    noPhones,
};

// UTF-8 in either language: the report's page and table are UTF-8 whatever the console's code.
std::string_view reportText(ReportText text, Language language);

}  // namespace norvale
