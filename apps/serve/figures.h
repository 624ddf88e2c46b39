// Every figure the server gives, written once: per camera, from its channel
// and the front ends attached to it, and for the process. /stats (JSON),
// /metrics (Prometheus' text format) and the page (which reads /stats) all
// come from the one table in figures.cpp.
#ifndef TWINCAM_SERVE_FIGURES_H
#define TWINCAM_SERVE_FIGURES_H

#include <string>
#include <string_view>
#include <vector>

#include "camera_source.h"
#include "jpeg_frames.h"

namespace twincam::serve {

struct RtspFigures {
    std::string url;
    int clients = 0;  // playing
    double sentMsMedian = 0, sentMsP99 = 0;  // from a frame's read to its RTP packets leaving
};

struct RecorderFigures {
    bool on = false;  // recording works now
    long long bytes = 0;
    long segments = 0, deleted = 0;  // written and deleted, since start
};

struct WebRtcFigures {
    int sessions = 0;
    long long bytes = 0;  // RTP handed to the sessions
};

struct ChannelFigures {
    int id = 0;
    SourceFigures source;
    JpegFigures jpeg;
    bool h264Running = false;
    long h264Encoded = 0;  // access units out of the camera's one encoder
    RtspFigures rtsp;
    RecorderFigures recorder;
    WebRtcFigures webrtc;
};

struct ProcessFigures {
    int streams = 0, connections = 0;
    long threads = 0, residentKiB = 0, liveBuffers = 0;
    long authFailures = 0, authThrottled = 0;  // sign-ins refused: wrong, and from a throttled address
    long logSuppressed = 0;                    // log lines held back as repeats
};

constexpr std::string_view kMetricsType = "text/plain; version=0.0.4; charset=utf-8";

std::string FiguresJson(const std::vector<ChannelFigures> &cameras, const ProcessFigures &process);
std::string MetricsText(const std::vector<ChannelFigures> &cameras, const ProcessFigures &process);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_FIGURES_H
