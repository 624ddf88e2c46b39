// The figures of /metrics, in Prometheus' text exposition format.
#ifndef TWINCAM_SERVE_METRICS_H
#define TWINCAM_SERVE_METRICS_H

#include <string>
#include <string_view>
#include <vector>

#include "camera_feed.h"
#include "figures_json.h"

namespace twincam::serve {

constexpr std::string_view kMetricsType = "text/plain; version=0.0.4; charset=utf-8";

std::string MetricsText(const std::vector<FeedFigures> &cameras, const ProcessFigures &process);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_METRICS_H
