// The figures of /stats as JSON.
#ifndef TWINCAM_SERVE_FIGURES_JSON_H
#define TWINCAM_SERVE_FIGURES_JSON_H

#include <string>
#include <vector>

#include "camera_feed.h"

namespace twincam::serve {

// The process's own figures beside the cameras'.
struct ProcessFigures {
    int streams = 0;
    long threads = 0, residentKiB = 0, liveBuffers = 0;
    int connections = 0;
};

std::string FiguresJson(const std::vector<FeedFigures> &cameras, const ProcessFigures &process);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_FIGURES_JSON_H
