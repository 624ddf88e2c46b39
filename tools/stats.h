// Summary figures of a series of measurements.
#ifndef TWINCAM_TOOLS_STATS_H
#define TWINCAM_TOOLS_STATS_H

#include <algorithm>
#include <cmath>
#include <vector>

namespace twincam::tools {

struct Spread {
    double min = 0, median = 0, p99 = 0, max = 0;
};

// Nearest-rank percentiles; all zero for no values.
inline Spread Summarise(std::vector<double> values) {
    Spread s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    const auto rank = [&](double p) {
        const auto r = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size())));
        return values[std::clamp<size_t>(r, 1, values.size()) - 1];
    };
    s.min = values.front();
    s.median = rank(0.5);
    s.p99 = rank(0.99);
    s.max = values.back();
    return s;
}

}  // namespace twincam::tools

#endif  // TWINCAM_TOOLS_STATS_H
