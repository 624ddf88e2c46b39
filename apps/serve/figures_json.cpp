#include "figures_json.h"

#include <cstdio>

namespace twincam::serve {
namespace {

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

std::string CameraJson(const FeedFigures &f) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"id\":%d,\"open\":%s,\"frames_read\":%ld,\"fps\":%.1f,\"missed\":%lld,\"skipped\":%ld,"
                  "\"encode_ms\":%.2f,\"clients\":%d,\"delivery_ms_median\":%.2f,\"error\":",
                  f.id, f.open ? "true" : "false", f.read, f.fps, f.missed, f.skipped, f.encodeMs, f.clients,
                  f.deliveryMsMedian);
    std::string json = text + (f.error.empty() ? std::string("null") : JsonString(f.error));
    std::snprintf(text, sizeof text,
                  ",\"rtsp_clients\":%d,\"h264_running\":%s,\"rtsp_sent_ms_median\":%.2f,\"rtsp_sent_ms_p99\":%.2f,"
                  "\"rtsp_url\":",
                  f.rtspClients, f.h264Running ? "true" : "false", f.sentMsMedian, f.sentMsP99);
    json += text + (f.rtspUrl.empty() ? std::string("null") : JsonString(f.rtspUrl));
    std::snprintf(text, sizeof text, ",\"state\":\"%s\",\"failures\":%ld,\"reopens\":%ld,\"down_since\":",
                  f.open ? "delivering" : "reconnecting", f.failures, f.reopens);
    return json + text + (f.open ? std::string("null") : JsonString(common::IsoUtc(f.downSince))) + "}";
}

}  // namespace

std::string FiguresJson(const std::vector<FeedFigures> &cameras, const ProcessFigures &process) {
    std::string json = "{\"cameras\":[";
    for (const FeedFigures &f : cameras) json += (json.back() == '[' ? "" : ",") + CameraJson(f);
    char tail[200];
    std::snprintf(tail, sizeof tail,
                  "],\"streams\":%d,\"connections\":%d,\"threads\":%ld,\"rss_kib\":%ld,\"live_buffers\":%ld}",
                  process.streams, process.connections, process.threads, process.residentKiB, process.liveBuffers);
    return json + tail;
}

}  // namespace twincam::serve
