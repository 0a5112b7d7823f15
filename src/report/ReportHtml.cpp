// The page: a heading, four SVG charts and the tables, escaped for XML throughout.
#include "report/ReportHtml.h"

#include <algorithm>
#include <cmath>

#include "core/ReportTexts.h"
#include "report/ReportTable.h"

namespace norvale {
namespace {

constexpr const char* kDone = "#2e7d32";
constexpr const char* kFailed = "#c62828";
constexpr const char* kStopped = "#9e9e9e";
constexpr const char* kPlain = "#f9a825";
constexpr const char* kMedian = "#1565c0";
constexpr const char* kP95 = "#90caf9";

// The chart's width in SVG units; the page scales it to its column.
constexpr int kWidth = 720;
constexpr int kLabelWidth = 200;  // the horizontal charts' names
constexpr int kRowHeight = 22;

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default:
                // XML 1.0 has no place for the other control characters.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
                    out += "\xEF\xBF\xBD";
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string num(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// A round step for an axis up to `most`, about five ticks.
double tickStep(double most) {
    if (most <= 0) return 1;
    const double raw = most / 5;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (raw <= factor * power) return std::max(1.0, factor * power);
    }
    return 10 * power;
}

class Svg {
public:
    Svg(int height, std::string_view title) : height_(height) {
        out_ = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + std::to_string(kWidth) +
               " " + std::to_string(height) + "\" width=\"" + std::to_string(kWidth) +
               "\" height=\"" + std::to_string(height) + "\" role=\"img\"><title>" +
               escaped(title) + "</title>";
    }
    void rect(double x, double y, double w, double h, const char* fill, std::string_view tip = {}) {
        out_ += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(std::max(0.0, w)) +
                "\" height=\"" + num(std::max(0.0, h)) + "\" fill=\"" + fill + "\"";
        if (tip.empty()) {
            out_ += "/>";
        } else {
            out_ += "><title>" + escaped(tip) + "</title></rect>";
        }
    }
    void line(double x1, double y1, double x2, double y2, const char* stroke) {
        out_ += "<line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) + "\" y2=\"" +
                num(y2) + "\" stroke=\"" + stroke + "\"/>";
    }
    void text(double x, double y, std::string_view words, const char* anchor = "start",
              const char* weight = "normal") {
        out_ += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" text-anchor=\"" + anchor +
                "\" font-weight=\"" + weight + "\">" + escaped(words) + "</text>";
    }
    std::string done() { return out_ + "</svg>"; }
    int height() const { return height_; }

private:
    int height_;
    std::string out_;
};

class Page {
public:
    Page(const ShiftSummary& summary, const Shift& shift, Language language)
        : summary_(summary), shift_(shift), language_(language) {}

    std::string write() {
        const char* lang = language_ == Language::russian ? "ru" : "en";
        html_ = "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"" +
                std::string(lang) + "\" xml:lang=\"" + lang +
                "\">\n<head>\n<meta charset=\"utf-8\"/>\n<title>" +
                escaped(word(ReportText::title)) +
                "</title>\n<style>\n"
                "body{font-family:sans-serif;margin:2em;color:#212121;max-width:60em}\n"
                "h1{font-size:1.6em}h2{font-size:1.2em;margin-top:1.6em}\n"
                "svg{max-width:100%;height:auto;font-size:13px;font-family:sans-serif}\n"
                "table{border-collapse:collapse;margin:.5em 0}\n"
                "th,td{padding:.2em .8em;border-bottom:1px solid #ddd;text-align:right}\n"
                "th:first-child,td:first-child{text-align:left}\n"
                ".flagged td{color:#b71c1c;font-weight:bold}\n"
                ".note{color:#555;font-size:.9em}\n"
                "section{break-inside:avoid;page-break-inside:avoid}\n"
                "@media print{body{margin:0;max-width:none}@page{size:A4;margin:15mm}}\n"
                "</style>\n</head>\n<body>\n";
        heading();
        if (summary_.total.served > 0) {
            section(ReportText::perHourChart, perHourChart());
            section(ReportText::ratePerPlaceChart, ratePerPlaceChart() + "<p class=\"note\">" +
                                                       escaped(word(ReportText::flagRule)) +
                                                       "</p>\n");
            if (!summary_.reasons.empty()) section(ReportText::reasonsChart, reasonsChart());
            if (!summary_.steps.empty()) section(ReportText::durationsChart, durationsChart());
            tables();
        }
        html_ += "</body>\n</html>\n";
        return html_;
    }

private:
    std::string word(ReportText text) const { return std::string(reportText(text, language_)); }

    void heading() {
        html_ += "<h1>" + escaped(word(ReportText::title)) + "</h1>\n<p>";
        if (summary_.total.served == 0) {
            html_ += escaped(word(ReportText::noPhones));
        } else {
            html_ +=
                escaped(word(ReportText::period)) + ": " + escaped(minuteText(*summary_.first)) +
                " &#8211; " + escaped(minuteText(*summary_.last)) + " UTC. " +
                escaped(word(ReportText::phones)) + ": " + std::to_string(summary_.total.served) +
                " " + escaped(word(ReportText::served)) + ", " +
                std::to_string(summary_.total.done) + " " + escaped(word(ReportText::done)) + ", " +
                std::to_string(summary_.total.failed) + " " + escaped(word(ReportText::failed)) +
                ", " + std::to_string(summary_.total.stopped) + " " +
                escaped(word(ReportText::stopped)) + ". " + escaped(word(ReportText::flashMoved)) +
                ": " + escaped(bytesText(summary_.movingBytes)) + ", " +
                escaped(rateText(summary_.movingBytes, summary_.movingMs)) + ".";
        }
        html_ += "</p>\n<p class=\"note\">" + escaped(word(ReportText::journals)) + ": ";
        for (std::size_t i = 0; i < shift_.journals.size(); ++i) {
            const JournalRead& journal = shift_.journals[i];
            html_ += (i > 0 ? ", " : "") + escaped(journal.name);
            if (journal.skipped > 0) {
                html_ += " (" + escaped(word(ReportText::skippedLines)) + ": " +
                         std::to_string(journal.skipped) + ")";
            }
        }
        html_ += "</p>\n";
    }

    void section(ReportText title, const std::string& body) {
        html_ += "<section>\n<h2>" + escaped(word(title)) + "</h2>\n" + body + "\n</section>\n";
    }

    std::string perHourChart() {
        const auto& hours = summary_.hours;
        const int top = 30, bottom = 50, left = 50, height = 260;
        const double plotHeight = height - top - bottom;
        std::uint64_t most = 1;
        for (const HourRow& hour : hours) most = std::max(most, hour.counts.served);
        const double step = tickStep(static_cast<double>(most));
        const double ceiling = std::ceil(static_cast<double>(most) / step) * step;
        Svg svg(height, word(ReportText::perHourChart));
        for (double tick = 0; tick <= ceiling + 0.5; tick += step) {
            const double y = top + plotHeight - tick / ceiling * plotHeight;
            svg.line(left, y, kWidth - 10, y, "#e0e0e0");
            svg.text(left - 6, y + 4, std::to_string(static_cast<long long>(tick)), "end");
        }
        const double slot = (kWidth - 10 - left) / static_cast<double>(hours.size());
        const std::size_t labelEvery = std::max<std::size_t>(1, hours.size() / 12 + 1);
        for (std::size_t i = 0; i < hours.size(); ++i) {
            const PhoneCounts& c = hours[i].counts;
            const double x = left + i * slot + slot * 0.1;
            double y = top + plotHeight;
            const std::string when = hourText(hours[i].start);
            for (const auto& [value, colour, name] :
                 {std::tuple{c.done, kDone, ReportText::done},
                  std::tuple{c.failed, kFailed, ReportText::failed},
                  std::tuple{c.stopped, kStopped, ReportText::stopped}}) {
                const double h = static_cast<double>(value) / ceiling * plotHeight;
                y -= h;
                if (value > 0) {
                    svg.rect(x, y, slot * 0.8, h, colour,
                             when + ": " + std::to_string(value) + " " + word(name));
                }
            }
            if (i % labelEvery == 0) {
                svg.text(x + slot * 0.4, top + plotHeight + 16, when.substr(11, 5), "middle");
            }
        }
        svg.line(left, top + plotHeight, kWidth - 10, top + plotHeight, "#616161");
        legend(svg, height - 14,
               {{kDone, ReportText::done},
                {kFailed, ReportText::failed},
                {kStopped, ReportText::stopped}});
        return svg.done();
    }

    void legend(Svg& svg, double y,
                std::initializer_list<std::pair<const char*, ReportText>> keys) {
        double x = 50;
        for (const auto& [colour, name] : keys) {
            svg.rect(x, y - 10, 12, 12, colour);
            svg.text(x + 18, y, word(name));
            x += 30 + 9.0 * static_cast<double>(word(name).size());
        }
    }

    // Horizontal bars, one per row: a name on the left, the bar, its value after it.
    struct Bar {
        std::string name;
        double value;
        const char* colour;
        std::string label;
        double whisker = 0;  // a second, lighter bar behind it to this value, when given
    };
    std::string barChart(ReportText title, const std::vector<Bar>& bars, double most) {
        const int top = 10;
        const int height = top + static_cast<int>(bars.size()) * kRowHeight + 10;
        const double room = kWidth - kLabelWidth - 170;
        most = std::max(most, 1e-9);
        Svg svg(height, word(title));
        for (std::size_t i = 0; i < bars.size(); ++i) {
            const Bar& bar = bars[i];
            const double y = top + static_cast<double>(i) * kRowHeight;
            svg.text(kLabelWidth - 8, y + 15, bar.name, "end");
            if (bar.whisker > 0) svg.rect(kLabelWidth, y + 4, bar.whisker / most * room, 14, kP95);
            svg.rect(kLabelWidth, y + 4, bar.value / most * room, 14, bar.colour, bar.label);
            svg.text(kLabelWidth + std::max(bar.value, bar.whisker) / most * room + 6, y + 15,
                     bar.label);
        }
        svg.line(kLabelWidth, top, kLabelWidth, height - 10, "#616161");
        return svg.done();
    }

    std::string ratePerPlaceChart() {
        std::vector<Bar> bars;
        double most = 0;
        for (const PlaceRow& place : summary_.places) {
            const double rate = place.counts.failureRate();
            most = std::max(most, rate);
            bars.push_back({place.place, rate, place.flagged ? kFailed : kPlain,
                            percentText(rate) + " (" + std::to_string(place.counts.failed) + "/" +
                                std::to_string(place.counts.done + place.counts.failed) + ")" +
                                (place.flagged ? "  " + word(ReportText::flagged) : "")});
        }
        return barChart(ReportText::ratePerPlaceChart, bars, most);
    }

    std::string reasonsChart() {
        std::vector<Bar> bars;
        double most = 0;
        for (const ReasonRow& reason : summary_.reasons) {
            most = std::max(most, static_cast<double>(reason.phones));
            bars.push_back({reason.reason, static_cast<double>(reason.phones), kFailed,
                            std::to_string(reason.phones)});
        }
        return barChart(ReportText::reasonsChart, bars, most);
    }

    std::string durationsChart() {
        std::vector<Bar> bars;
        double most = 0;
        for (const StepRow& step : summary_.steps) {
            most = std::max(most, step.p95Ms);
            bars.push_back({step.step, step.medianMs, kMedian,
                            secondsText(step.medianMs) + " s / " + secondsText(step.p95Ms) + " s",
                            step.p95Ms});
        }
        std::string chart = barChart(ReportText::durationsChart, bars, most);
        return chart + "<p class=\"note\">" + escaped(word(ReportText::median)) + " / " +
               escaped(word(ReportText::p95)) + "</p>";
    }

    void table(const std::vector<std::string>& heading,
               const std::vector<std::pair<std::vector<std::string>, bool>>& rows) {
        html_ += "<table>\n<tr>";
        for (const std::string& cell : heading) html_ += "<th>" + escaped(cell) + "</th>";
        html_ += "</tr>\n";
        for (const auto& [cells, flagged] : rows) {
            html_ += flagged ? "<tr class=\"flagged\">" : "<tr>";
            for (const std::string& cell : cells) html_ += "<td>" + escaped(cell) + "</td>";
            html_ += "</tr>\n";
        }
        html_ += "</table>\n";
    }

    std::vector<std::string> countCells(std::string first, const PhoneCounts& c) const {
        return {std::move(first),         std::to_string(c.served),  std::to_string(c.done),
                std::to_string(c.failed), std::to_string(c.stopped), percentText(c.failureRate())};
    }

    void tables() {
        const std::vector<std::string> counts{word(ReportText::served), word(ReportText::done),
                                              word(ReportText::failed), word(ReportText::stopped),
                                              word(ReportText::failureRate)};
        const auto heading = [&](ReportText first) {
            std::vector<std::string> cells{word(first)};
            cells.insert(cells.end(), counts.begin(), counts.end());
            return cells;
        };
        std::vector<std::pair<std::vector<std::string>, bool>> rows;
        for (const PlaceRow& place : summary_.places) {
            std::string name = place.place;
            if (place.flagged) name += "  " + word(ReportText::flagged);
            rows.push_back({countCells(name, place.counts), place.flagged});
        }
        html_ += "<section>\n<h2>" + escaped(word(ReportText::byPlace)) + "</h2>\n";
        table(heading(ReportText::place), rows);
        html_ += "</section>\n<section>\n<h2>" + escaped(word(ReportText::byReason)) + "</h2>\n";
        rows.clear();
        for (const ReasonRow& reason : summary_.reasons) {
            rows.push_back({{reason.reason, std::to_string(reason.phones)}, false});
        }
        table({word(ReportText::reason), word(ReportText::count)}, rows);
        html_ += "</section>\n<section>\n<h2>" + escaped(word(ReportText::byRecipe)) + "</h2>\n";
        rows.clear();
        for (const RecipeRow& recipe : summary_.recipes) {
            rows.push_back({countCells(recipe.recipe.empty()
                                           ? word(ReportText::typedChain)
                                           : recipe.recipe + " " + shortDigest(recipe.sha256),
                                       recipe.counts),
                            false});
        }
        table(heading(ReportText::recipe), rows);
        html_ += "</section>\n<section>\n<h2>" + escaped(word(ReportText::byHour)) + "</h2>\n";
        rows.clear();
        for (const HourRow& hour : summary_.hours) {
            rows.push_back({countCells(hourText(hour.start), hour.counts), false});
        }
        table(heading(ReportText::hour), rows);
        html_ +=
            "</section>\n<section>\n<h2>" + escaped(word(ReportText::stepDurations)) + "</h2>\n";
        rows.clear();
        for (const StepRow& step : summary_.steps) {
            rows.push_back({{step.step, std::to_string(step.count), secondsText(step.medianMs),
                             secondsText(step.p95Ms)},
                            false});
        }
        table({word(ReportText::step), word(ReportText::count), word(ReportText::median),
               word(ReportText::p95)},
              rows);
        html_ += "</section>\n";
    }

    const ShiftSummary& summary_;
    const Shift& shift_;
    Language language_;
    std::string html_;
};

}  // namespace

std::string reportHtml(const ShiftSummary& summary, const Shift& shift, Language language) {
    return Page(summary, shift, language).write();
}

}  // namespace norvale
