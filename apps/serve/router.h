// What twincam-serve answers, without a socket: the page at /, the figures
// at /stats, the metrics at /metrics, a snapshot at /snapshot/<ID>.jpg, an
// MJPEG stream at /stream/<ID>, the recordings at /recordings (a list) and
// /recordings/cam<ID>/<file> (one, with byte ranges), and WebRTC sessions
// (WHEP): POST /whep/<ID> with an offer, DELETE /whep/<ID>/<session>.
// Anything else is 404; a method a path does not take is 405.
#ifndef TWINCAM_SERVE_ROUTER_H
#define TWINCAM_SERVE_ROUTER_H

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "channels.h"

namespace twincam::serve {

class Recordings;
class SignIn;
class WebRtcService;

// What the routes serve from, shared by every connection.
struct Served {
    explicit Served(Channels &c) : channels(c) {}
    Channels &channels;
    const Recordings *recordings = nullptr;  // none without --record
    WebRtcService *webrtc = nullptr;         // none with --webrtc off
    const SignIn *signIn = nullptr;          // none without --auth-file
    int maxClients = 16;              // MJPEG streams and WebRTC sessions at once
    std::atomic<int> streams{0};      // MJPEG streams and WebRTC sessions being served
    std::atomic<int> connections{0};  // HTTP connections open
};

// A reply: a status with a body, a camera's JPEGs as they come, a part of
// a file, or an offer for the camera's WebRTC to answer.
struct Reply {
    enum class Body { kFixed, kStream, kSnapshot, kFile, kOffer };
    int status = 200;
    std::string type;
    std::string body;  // kFile: the file's path
    std::vector<std::pair<std::string, std::string>> headers;
    Body kind = Body::kFixed;
    Channel *channel = nullptr;  // for kStream, kSnapshot and kOffer
    long long offset = 0, length = 0;  // for kFile
    std::shared_ptr<void> slot = nullptr;  // kOffer: one of served.streams, given back when the last holder lets go
};

// A request: path percent-decoded; range and type its Range and
// Content-Type headers, or empty; body what came with it.
struct Request {
    std::string_view method, path, range, type, body;
};

// The most a request's body may hold; more is 413.
constexpr size_t kMaxBody = 64 * 1024;

// The reply to a request. A kStream reply holds one of served.streams,
// given back by EndStream.
Reply Route(Served &served, const Request &request);
inline Reply Route(Served &served, std::string_view method, std::string_view path, std::string_view range = {}) {
    return Route(served, Request{method, path, range, {}, {}});
}
void EndStream(Served &served);

// The multipart boundary between a stream's JPEGs.
constexpr std::string_view kBoundary = "frame";

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_ROUTER_H
