// Figures and bar of the progress line.
#include "cli/ProgressLine.h"

#include <cmath>
#include <cstdio>

namespace norvale {
namespace {

// Below this the rate is mostly noise of the first replies.
constexpr std::uint64_t kRateAfterMs = 200;
constexpr std::uint64_t kMebibyte = std::uint64_t{1024} * 1024;
constexpr unsigned kMinimumBar = 10;
constexpr unsigned kMaximumBar = 40;
// "  1023.9 MiB of 1023.9 MiB  1023.9 MiB/s  99:59 left"
constexpr unsigned kWidestFigures = 52;

}  // namespace

std::string formatBytes(std::uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%u B", static_cast<unsigned>(bytes));
    } else if (bytes < kMebibyte) {
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB",
                      static_cast<double>(bytes) / static_cast<double>(kMebibyte));
    }
    return text;
}

std::string formatProgress(std::uint64_t done, std::uint64_t total, std::uint64_t elapsedMs,
                           unsigned columns) {
    std::string figures = "  " + formatBytes(done) + " of " + formatBytes(total);
    if (elapsedMs >= kRateAfterMs && done > 0) {
        const double perSecond =
            static_cast<double>(done) * 1000.0 / static_cast<double>(elapsedMs);
        const auto secondsLeft =
            static_cast<std::uint64_t>(std::llround(static_cast<double>(total - done) / perSecond));
        char tail[48];
        std::snprintf(tail, sizeof tail, "/s  %u:%02u left",
                      static_cast<unsigned>(secondsLeft / 60),
                      static_cast<unsigned>(secondsLeft % 60));
        figures += "  " + formatBytes(static_cast<std::uint64_t>(perSecond)) + tail;
    } else {
        figures += "  --/s  --:-- left";
    }
    // The bar keeps its width while the figures grow and shrink, so it does not jump about: it
    // takes what the widest figures would leave.
    const unsigned usable = columns > 1 ? columns - 1 : 0;
    if (usable < kWidestFigures + kMinimumBar + 2) return figures.substr(0, usable);
    unsigned width = usable - kWidestFigures - 2;
    if (width > kMaximumBar) width = kMaximumBar;
    const auto filled = static_cast<unsigned>(done * width / total);
    std::string line(1, '[');
    line.append(filled, '#');
    line.append(width - filled, '.');
    line += ']';
    return line + figures;
}

}  // namespace norvale
