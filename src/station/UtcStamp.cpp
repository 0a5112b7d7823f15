// The civil date and time of an instant from the chrono calendar: no C library state, so any
// session's thread may ask.
#include "station/UtcStamp.h"

#include <cstdio>

namespace norvale {
namespace {

struct Civil {
    int year;
    unsigned month, day;
    long hours, minutes, seconds;
};

Civil civilOf(WallTime when) {
    using namespace std::chrono;
    const auto day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss time{floor<seconds>(when - day)};
    return {static_cast<int>(date.year()),
            static_cast<unsigned>(date.month()),
            static_cast<unsigned>(date.day()),
            static_cast<long>(time.hours().count()),
            static_cast<long>(time.minutes().count()),
            static_cast<long>(time.seconds().count())};
}

}  // namespace

std::string isoUtc(WallTime when) {
    const Civil c = civilOf(when);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ldZ", c.year, c.month, c.day,
                  c.hours, c.minutes, c.seconds);
    return text;
}

std::string fileStampUtc(WallTime when) {
    const Civil c = civilOf(when);
    char text[40];
    std::snprintf(text, sizeof text, "%04d%02u%02u-%02ld%02ld%02ld", c.year, c.month, c.day,
                  c.hours, c.minutes, c.seconds);
    return text;
}

}  // namespace norvale
