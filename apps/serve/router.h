// What twincam-serve answers, without a socket: the page at /, the figures
// at /stats, the metrics at /metrics, a snapshot at /snapshot/<ID>.jpg and
// an MJPEG stream at /stream/<ID>. Anything else is 404; a method other
// than GET or HEAD is 405.
#ifndef TWINCAM_SERVE_ROUTER_H
#define TWINCAM_SERVE_ROUTER_H

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "camera_feed.h"

namespace twincam::serve {

// What the routes serve from, shared by every connection.
struct Served {
    std::map<int, std::unique_ptr<CameraFeed>> feeds;
    int maxStreams = 16;
    std::atomic<int> streams{0};      // MJPEG streams being served
    std::atomic<int> connections{0};  // HTTP connections open
};

// A reply: a status with a body, or a camera's JPEGs, sent as they come.
struct Reply {
    enum class Body { kFixed, kStream, kSnapshot };
    int status = 200;
    std::string type;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    Body kind = Body::kFixed;
    CameraFeed *feed = nullptr;  // for kStream and kSnapshot
};

// The reply to a request for `path` (percent-decoded) with `method`.
// A kStream reply holds one of served.streams, given back by EndStream.
Reply Route(Served &served, std::string_view method, std::string_view path);
void EndStream(Served &served, CameraFeed *feed);

// The multipart boundary between a stream's JPEGs.
constexpr std::string_view kBoundary = "frame";

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_ROUTER_H
