// Summary figures of a series of measurements, and a frame rate over the
// last second, for every program that reports them.
#ifndef TWINCAM_APPS_STATS_H
#define TWINCAM_APPS_STATS_H

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <vector>

namespace twincam::common {

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

// The last `capacity` values of a series, oldest dropped first.
class RecentValues {
public:
    explicit RecentValues(size_t capacity) : capacity_(capacity) {}
    void Add(double value) {
        values_.push_back(value);
        if (values_.size() > capacity_) values_.pop_front();
    }
    Spread Summary() const { return Summarise({values_.begin(), values_.end()}); }

private:
    size_t capacity_;
    std::deque<double> values_;
};

// Events per second over the last second.
class RateMeter {
public:
    using Clock = std::chrono::steady_clock;
    void Add(Clock::time_point at) {
        times_.push_back(at);
        while (at - times_.front() > std::chrono::seconds(1)) times_.pop_front();
    }
    double PerSecond() const {
        if (times_.size() < 2) return 0.0;
        const double span = std::chrono::duration<double>(times_.back() - times_.front()).count();
        return span > 0 ? static_cast<double>(times_.size() - 1) / span : 0.0;
    }

private:
    std::deque<Clock::time_point> times_;
};

}  // namespace twincam::common

#endif  // TWINCAM_APPS_STATS_H
