#include "figures.h"

#include <cstdio>

namespace twincam::serve {
namespace {

enum class Kind { kFlag, kCount, kReal };

// One per-camera figure: its key in /stats, and its metric (none where a
// histogram or a median says it better there).
struct Figure {
    const char *key;
    Kind kind;
    const char *metric;  // nullptr: /stats only
    const char *type;
    const char *help;
    double (*value)(const ChannelFigures &);
};

const Figure kFigures[] = {
    {"open", Kind::kFlag, "twincam_camera_up", "gauge", "1 while the camera delivers, 0 while it is down and retried.",
     [](const ChannelFigures &f) { return f.source.up ? 1.0 : 0.0; }},
    {"frames_read", Kind::kCount, "twincam_frames_read_total", "counter", "Frames read from the camera.",
     [](const ChannelFigures &f) { return static_cast<double>(f.source.read); }},
    {"fps", Kind::kReal, "twincam_frames_per_second", "gauge", "Frames read per second over the last second.",
     [](const ChannelFigures &f) { return f.source.fps; }},
    {"missed", Kind::kCount, "twincam_frames_missed_total", "counter",
     "Frames the camera delivered that were never read (gaps in its stamps).",
     [](const ChannelFigures &f) { return static_cast<double>(f.source.missed); }},
    {"failures", Kind::kCount, "twincam_camera_failures_total", "counter",
     "Times the camera went down: a failed read, or a failed open at start.",
     [](const ChannelFigures &f) { return static_cast<double>(f.source.failures); }},
    {"reopens", Kind::kCount, "twincam_camera_reopens_total", "counter", "Times the camera came back after going down.",
     [](const ChannelFigures &f) { return static_cast<double>(f.source.reopens); }},
    {"skipped", Kind::kCount, "twincam_frames_skipped_total", "counter",
     "Frames read but replaced by a newer one before they were encoded as JPEG.",
     [](const ChannelFigures &f) { return static_cast<double>(f.jpeg.skipped); }},
    {"encode_ms", Kind::kReal, nullptr, nullptr, nullptr, [](const ChannelFigures &f) { return f.jpeg.encodeMs; }},
    {"clients", Kind::kCount, "twincam_stream_clients", "gauge", "MJPEG stream and snapshot clients of the camera.",
     [](const ChannelFigures &f) { return static_cast<double>(f.jpeg.clients); }},
    {"delivery_ms_median", Kind::kReal, nullptr, nullptr, nullptr,
     [](const ChannelFigures &f) { return f.jpeg.deliveryMsMedian; }},
    {"h264_running", Kind::kFlag, "twincam_h264_encoder_running", "gauge",
     "1 while the camera's one H.264 encoder runs (while RTSP or the recorder takes it).",
     [](const ChannelFigures &f) { return f.h264Running ? 1.0 : 0.0; }},
    {"h264_frames_encoded", Kind::kCount, "twincam_h264_frames_encoded_total", "counter",
     "Frames out of the camera's H.264 encoder, shared by every H.264 client.",
     [](const ChannelFigures &f) { return static_cast<double>(f.h264Encoded); }},
    {"rtsp_clients", Kind::kCount, "twincam_rtsp_clients", "gauge", "RTSP clients playing the camera.",
     [](const ChannelFigures &f) { return static_cast<double>(f.rtsp.clients); }},
    {"rtsp_sent_ms_median", Kind::kReal, nullptr, nullptr, nullptr,
     [](const ChannelFigures &f) { return f.rtsp.sentMsMedian; }},
    {"rtsp_sent_ms_p99", Kind::kReal, nullptr, nullptr, nullptr, [](const ChannelFigures &f) { return f.rtsp.sentMsP99; }},
    {"webrtc_sessions", Kind::kCount, "twincam_webrtc_sessions", "gauge", "WebRTC sessions of the camera.",
     [](const ChannelFigures &f) { return static_cast<double>(f.webrtc.sessions); }},
    {"webrtc_bytes", Kind::kCount, "twincam_webrtc_sent_bytes_total", "counter",
     "Bytes of RTP the camera's WebRTC sessions were given to send.",
     [](const ChannelFigures &f) { return static_cast<double>(f.webrtc.bytes); }},
    {"recording", Kind::kFlag, "twincam_recording_up", "gauge", "1 while the camera is being recorded and writing works.",
     [](const ChannelFigures &f) { return f.recorder.on ? 1.0 : 0.0; }},
    {"recorded_bytes", Kind::kCount, "twincam_recorded_bytes_total", "counter", "Bytes of the camera's recordings written.",
     [](const ChannelFigures &f) { return static_cast<double>(f.recorder.bytes); }},
    {"recorded_segments", Kind::kCount, "twincam_recorded_segments_total", "counter",
     "Recording segments of the camera started.",
     [](const ChannelFigures &f) { return static_cast<double>(f.recorder.segments); }},
    {"deleted_segments", Kind::kCount, "twincam_recorded_segments_deleted_total", "counter",
     "Recording segments of the camera deleted for age, size or free space.",
     [](const ChannelFigures &f) { return static_cast<double>(f.recorder.deleted); }},
};

// A JSON string literal of text, quotes included, whatever text holds.
std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string OrNull(bool present, const std::string &text) { return present ? JsonString(text) : "null"; }

std::string CameraJson(const ChannelFigures &f) {
    std::string json = "{\"id\":" + std::to_string(f.id);
    for (const Figure &figure : kFigures) {
        const double v = figure.value(f);
        char text[64];
        if (figure.kind == Kind::kFlag) std::snprintf(text, sizeof text, "%s", v != 0 ? "true" : "false");
        else std::snprintf(text, sizeof text, figure.kind == Kind::kCount ? "%.0f" : "%.2f", v);
        json += ",\"" + std::string(figure.key) + "\":" + text;
    }
    const bool down = !f.source.up;
    return json + ",\"state\":\"" + (down ? "reconnecting" : "delivering") + "\",\"error\":" +
           OrNull(down, f.source.error) + ",\"down_since\":" + OrNull(down, common::IsoUtc(f.source.downSince)) +
           ",\"rtsp_url\":" + OrNull(!f.rtsp.url.empty(), f.rtsp.url) + "}";
}

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

void EncodeHistogram(std::string &out, const std::vector<ChannelFigures> &cameras) {
    const char *name = "twincam_encode_seconds";
    Family(out, name, "histogram", "Time to encode a frame as JPEG.");
    for (const ChannelFigures &f : cameras) {
        const std::string camera = "camera=\"" + std::to_string(f.id) + "\"";
        long count = 0;
        for (size_t i = 0; i <= kEncodeBuckets.size(); ++i) {
            count += f.jpeg.encodeCounts[i];
            const std::string le = i < kEncodeBuckets.size() ? Number(kEncodeBuckets[i]) : "+Inf";
            out += std::string(name) + "_bucket{" + camera + ",le=\"" + le + "\"} " + std::to_string(count) + "\n";
        }
        out += std::string(name) + "_sum{" + camera + "} " + Number(f.jpeg.encodeSeconds) + "\n";
        out += std::string(name) + "_count{" + camera + "} " + std::to_string(count) + "\n";
    }
}

// A figure of the process, one sample.
void Single(std::string &out, const char *name, const char *type, const char *help, double value) {
    Family(out, name, type, help);
    out += std::string(name) + " " + Number(value) + "\n";
}
void Gauge(std::string &out, const char *name, const char *help, double value) { Single(out, name, "gauge", help, value); }
void Counter(std::string &out, const char *name, const char *help, double value) {
    Single(out, name, "counter", help, value);
}

}  // namespace

std::string FiguresJson(const std::vector<ChannelFigures> &cameras, const ProcessFigures &process) {
    std::string json = "{\"cameras\":[";
    for (const ChannelFigures &f : cameras) json += (json.back() == '[' ? "" : ",") + CameraJson(f);
    char tail[200];
    std::snprintf(tail, sizeof tail,
                  "],\"streams\":%d,\"connections\":%d,\"threads\":%ld,\"rss_kib\":%ld,\"live_buffers\":%ld}",
                  process.streams, process.connections, process.threads, process.residentKiB, process.liveBuffers);
    return json + tail;
}

std::string MetricsText(const std::vector<ChannelFigures> &cameras, const ProcessFigures &process) {
    std::string out;
    for (const Figure &figure : kFigures) {
        if (figure.metric == nullptr) continue;
        Family(out, figure.metric, figure.type, figure.help);
        for (const ChannelFigures &f : cameras) {
            out += std::string(figure.metric) + "{camera=\"" + std::to_string(f.id) + "\"} " + Number(figure.value(f)) + "\n";
        }
    }
    EncodeHistogram(out, cameras);
    Gauge(out, "twincam_live_buffers", "Frame buffers allocated and not yet freed.",
          static_cast<double>(process.liveBuffers));
    Gauge(out, "twincam_http_connections", "HTTP connections open.", process.connections);
    Counter(out, "twincam_auth_failures_total", "Sign-ins refused for a wrong user or password, HTTP and RTSP.",
            process.authFailures);
    Counter(out, "twincam_auth_throttled_total",
            "Sign-ins refused without a password check: their address failed too often within a minute.",
            process.authThrottled);
    Counter(out, "twincam_log_suppressed_total",
            "Log lines held back: a line that repeats is written a few times a minute at most.", process.logSuppressed);
    Gauge(out, "process_resident_memory_bytes", "Resident memory size in bytes.",
          static_cast<double>(process.residentKiB) * 1024.0);
    Gauge(out, "process_threads", "Threads of the process.", static_cast<double>(process.threads));
    return out;
}

}  // namespace twincam::serve
