#include "metrics.h"

#include <cstdio>
#include <functional>

namespace twincam::serve {
namespace {

// A number as Prometheus reads it: integers exact, the rest to 6 digits.
std::string Number(double value) {
    char text[32];
    const bool whole = value == static_cast<double>(static_cast<long long>(value));
    std::snprintf(text, sizeof text, whole ? "%.0f" : "%.6g", value);
    return text;
}

void Family(std::string &out, const char *name, const char *type, const char *help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

// One sample per camera.
void PerCamera(std::string &out, const std::vector<FeedFigures> &cameras, const char *name, const char *type,
               const char *help, const std::function<double(const FeedFigures &)> &value) {
    Family(out, name, type, help);
    for (const FeedFigures &f : cameras) {
        out += std::string(name) + "{camera=\"" + std::to_string(f.id) + "\"} " + Number(value(f)) + "\n";
    }
}

void EncodeHistogram(std::string &out, const std::vector<FeedFigures> &cameras) {
    const char *name = "twincam_encode_seconds";
    Family(out, name, "histogram", "Time to encode a frame as JPEG.");
    for (const FeedFigures &f : cameras) {
        const std::string camera = "camera=\"" + std::to_string(f.id) + "\"";
        long count = 0;
        for (size_t i = 0; i <= kEncodeBuckets.size(); ++i) {
            count += f.encodeCounts[i];
            const std::string le = i < kEncodeBuckets.size() ? Number(kEncodeBuckets[i]) : "+Inf";
            out += std::string(name) + "_bucket{" + camera + ",le=\"" + le + "\"} " + std::to_string(count) + "\n";
        }
        out += std::string(name) + "_sum{" + camera + "} " + Number(f.encodeSeconds) + "\n";
        out += std::string(name) + "_count{" + camera + "} " + std::to_string(count) + "\n";
    }
}

void Gauge(std::string &out, const char *name, const char *help, double value) {
    Family(out, name, "gauge", help);
    out += std::string(name) + " " + Number(value) + "\n";
}

}  // namespace

std::string MetricsText(const std::vector<FeedFigures> &cameras, const ProcessFigures &process) {
    std::string out;
    PerCamera(out, cameras, "twincam_camera_up", "gauge", "1 while the camera delivers, 0 while it is down and retried.",
              [](const FeedFigures &f) { return f.open ? 1.0 : 0.0; });
    PerCamera(out, cameras, "twincam_camera_failures_total", "counter",
              "Times the camera went down: a failed read, or a failed open at start.",
              [](const FeedFigures &f) { return static_cast<double>(f.failures); });
    PerCamera(out, cameras, "twincam_camera_reopens_total", "counter", "Times the camera came back after going down.",
              [](const FeedFigures &f) { return static_cast<double>(f.reopens); });
    PerCamera(out, cameras, "twincam_frames_read_total", "counter", "Frames read from the camera.",
              [](const FeedFigures &f) { return static_cast<double>(f.read); });
    PerCamera(out, cameras, "twincam_frames_missed_total", "counter",
              "Frames the camera delivered that were never read (gaps in its stamps).",
              [](const FeedFigures &f) { return static_cast<double>(f.missed); });
    PerCamera(out, cameras, "twincam_frames_skipped_total", "counter",
              "Frames read but replaced by a newer one before they were encoded.",
              [](const FeedFigures &f) { return static_cast<double>(f.skipped); });
    PerCamera(out, cameras, "twincam_frames_per_second", "gauge", "Frames read per second over the last second.",
              [](const FeedFigures &f) { return f.fps; });
    PerCamera(out, cameras, "twincam_stream_clients", "gauge", "MJPEG stream clients of the camera.",
              [](const FeedFigures &f) { return static_cast<double>(f.clients); });
    PerCamera(out, cameras, "twincam_rtsp_clients", "gauge", "RTSP clients playing the camera.",
              [](const FeedFigures &f) { return static_cast<double>(f.rtspClients); });
    PerCamera(out, cameras, "twincam_h264_encoder_running", "gauge",
              "1 while the camera's H.264 encoder runs (while an RTSP client watches).",
              [](const FeedFigures &f) { return f.h264Running ? 1.0 : 0.0; });
    EncodeHistogram(out, cameras);
    Gauge(out, "twincam_live_buffers", "Frame buffers allocated and not yet freed.",
          static_cast<double>(process.liveBuffers));
    Gauge(out, "twincam_http_connections", "HTTP connections open.", process.connections);
    Gauge(out, "process_resident_memory_bytes", "Resident memory size in bytes.",
          static_cast<double>(process.residentKiB) * 1024.0);
    Gauge(out, "process_threads", "Threads of the process.", static_cast<double>(process.threads));
    return out;
}

}  // namespace twincam::serve
