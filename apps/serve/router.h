// What twincam-serve answers, without a socket: the page at /, the figures
// at /stats, the metrics at /metrics, a snapshot at /snapshot/<ID>.jpg, an
// MJPEG stream at /stream/<ID>, and the recordings at /recordings (a list)
// and /recordings/cam<ID>/<file> (one, with byte ranges). Anything else is
// 404; a method other than GET or HEAD is 405.
#ifndef TWINCAM_SERVE_ROUTER_H
#define TWINCAM_SERVE_ROUTER_H

#include <atomic>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "channels.h"

namespace twincam::serve {

class Recordings;

// What the routes serve from, shared by every connection.
struct Served {
    explicit Served(Channels &c) : channels(c) {}
    Channels &channels;
    const Recordings *recordings = nullptr;  // none without --record
    int maxClients = 16;              // MJPEG streams at once
    std::atomic<int> streams{0};      // MJPEG streams being served
    std::atomic<int> connections{0};  // HTTP connections open
};

// A reply: a status with a body, a camera's JPEGs as they come, or a part of a file.
struct Reply {
    enum class Body { kFixed, kStream, kSnapshot, kFile };
    int status = 200;
    std::string type;
    std::string body;  // kFile: the file's path
    std::vector<std::pair<std::string, std::string>> headers;
    Body kind = Body::kFixed;
    Channel *channel = nullptr;  // for kStream and kSnapshot
    long long offset = 0, length = 0;  // for kFile
};

// The reply to a request for `path` (percent-decoded) with `method`; range:
// the request's Range header, or empty. A kStream reply holds one of
// served.streams, given back by EndStream.
Reply Route(Served &served, std::string_view method, std::string_view path, std::string_view range = {});
void EndStream(Served &served);

// The multipart boundary between a stream's JPEGs.
constexpr std::string_view kBoundary = "frame";

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_ROUTER_H
