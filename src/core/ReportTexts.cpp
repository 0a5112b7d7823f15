// The report's words, one row per word in the order of ReportText.
#include "core/ReportTexts.h"

#include <array>

namespace norvale {
namespace {

struct Words {
    ReportText id;
    std::u8string_view russian;
    std::string_view english;
};

constexpr std::array<Words, 32> kWords{{
    {ReportText::title, u8"Отчёт смены", "Shift report"},
    {ReportText::phones, u8"Телефоны", "Phones"},
    {ReportText::served, u8"обслужено", "served"},
    {ReportText::done, u8"готово", "done"},
    {ReportText::failed, u8"сбой", "failed"},
    {ReportText::stopped, u8"остановлено", "stopped"},
    {ReportText::failureRate, u8"доля сбоев", "failure rate"},
    {ReportText::byPlace, u8"По местам", "By place"},
    {ReportText::byReason, u8"По причинам", "By reason"},
    {ReportText::byRecipe, u8"По рецептам", "By recipe"},
    {ReportText::byHour, u8"По часам (UTC)", "By hour (UTC)"},
    {ReportText::stepDurations, u8"Длительность шагов", "Step durations"},
    {ReportText::place, u8"место", "place"},
    {ReportText::reason, u8"причина", "reason"},
    {ReportText::recipe, u8"рецепт", "recipe"},
    {ReportText::hour, u8"час", "hour"},
    {ReportText::step, u8"шаг", "step"},
    {ReportText::count, u8"число", "count"},
    {ReportText::median, u8"медиана, с", "median, s"},
    {ReportText::p95, u8"95-й процентиль, с", "95th percentile, s"},
    {ReportText::flagged, u8"ВНИМАНИЕ", "FLAGGED"},
    {ReportText::typedChain, u8"(команды без рецепта)", "(typed commands)"},
    {ReportText::flashMoved, u8"Передано байт флэш-памяти", "Flash bytes moved"},
    {ReportText::perHourChart, u8"Телефоны по часам: готово и сбой",
     "Phones per hour: done and failed"},
    {ReportText::ratePerPlaceChart, u8"Доля сбоев по местам", "Failure rate per place"},
    {ReportText::reasonsChart, u8"Сбои по причинам", "Failures by reason"},
    {ReportText::durationsChart, u8"Длительность шагов: медиана и 95-й процентиль",
     "Step durations: median and 95th percentile"},
    {ReportText::flagRule,
     u8"Место отмечено, если у него не меньше 10 завершённых телефонов и доля сбоев не меньше "
     u8"удвоенной доли всех остальных мест вместе и выше неё на 10 процентных пунктов.",
     "A place is flagged when it finished at least 10 phones and its failure rate is at least "
     "twice that of all the other places together and 10 points above it."},
    {ReportText::period, u8"Период", "Period"},
    {ReportText::journals, u8"Журналы", "Journals"},
    {ReportText::skippedLines, u8"пропущено строк", "lines skipped"},
    {ReportText::noPhones, u8"В журналах нет телефонов за этот период.",
     "The journals hold no phone in this period."},
}};

consteval bool inOrder() {
    for (std::size_t i = 0; i < kWords.size(); ++i) {
        if (static_cast<std::size_t>(kWords[i].id) != i) return false;
    }
    return static_cast<std::size_t>(ReportText::noPhones) + 1 == kWords.size();
}
static_assert(inOrder(), "the report's words are in the order of ReportText, every one");

}  // namespace

std::string_view reportText(ReportText text, Language language) {
    const Words& words = kWords[static_cast<std::size_t>(text)];
    if (language == Language::english) return words.english;
    return {reinterpret_cast<const char*>(words.russian.data()), words.russian.size()};
}

}  // namespace norvale
