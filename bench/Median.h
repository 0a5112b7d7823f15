// The median of repeated measurements: what the table reports for every timed figure.
#pragma once

#include <algorithm>
#include <vector>

namespace norvale::bench {

// The middle value (the mean of the two middle ones for an even count); 0 for no values. The
// median rather than the mean, so one run disturbed by the rest of the machine does not move it.
inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                     values.end());
    const double upper = values[middle];
    if (values.size() % 2 != 0) return upper;
    const double lower =
        *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return (lower + upper) / 2;
}

}  // namespace norvale::bench
