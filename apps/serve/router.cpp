#include "router.h"

#include "log.h"
#include "page.h"
#include "process.h"
#include "recordings.h"
#include "sign_in.h"
#include "webrtc_service.h"

namespace twincam::serve {
namespace {

// The text after prefix and before suffix, when path is exactly that.
bool Between(std::string_view path, std::string_view prefix, std::string_view suffix, std::string_view *middle) {
    if (path.size() < prefix.size() + suffix.size() || path.substr(0, prefix.size()) != prefix ||
        path.substr(path.size() - suffix.size()) != suffix) {
        return false;
    }
    *middle = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    return true;
}

Reply Text(int status, std::string text) { return Reply{status, "text/plain; charset=utf-8", std::move(text), {}}; }

Reply NotAllowed(const char *allow) {
    Reply reply = Text(405, std::string("only ") + allow + "\n");
    reply.headers.emplace_back("Allow", allow);
    return reply;
}

// One of served.streams for a client, or nullptr past --max-clients.
bool TakeStream(Served &served) {
    if (served.streams.fetch_add(1) < served.maxClients) return true;
    served.streams.fetch_sub(1);
    return false;
}

Reply TooMany() {
    Reply reply = Text(503, "too many clients\n");
    reply.headers.emplace_back("Retry-After", "5");
    return reply;
}

ProcessFigures Process(Served &served) {
    return ProcessFigures{served.streams.load(), served.connections.load(), common::ThreadCount(),
                          common::ResidentKiB(), common::LiveBuffers(),
                          served.signIn != nullptr ? served.signIn->failures() : 0,
                          served.signIn != nullptr ? served.signIn->throttled() : 0, LogSuppressed()};
}

Reply Stream(Served &served, Channel *channel, bool head) {
    Reply reply{200, "multipart/x-mixed-replace; boundary=" + std::string(kBoundary), "", {{"Cache-Control", "no-store"}}};
    if (head) return reply;
    if (!TakeStream(served)) return TooMany();
    reply.kind = Reply::Body::kStream;
    reply.channel = channel;
    return reply;
}

// A camera's pictures: /snapshot/<ID>.jpg and /stream/<ID>. A camera that is
// down is served all the same: its clients see "no signal" until it is back.
Reply Pictures(Served &served, std::string_view path, bool head, bool *matched) {
    std::string_view id;
    const bool snapshot = Between(path, "/snapshot/", ".jpg", &id);
    *matched = snapshot || Between(path, "/stream/", "", &id);
    if (!*matched) return {};
    Channel *channel = served.channels.Find(id);
    if (channel == nullptr) return Text(404, "no such camera\n");
    if (!snapshot) return Stream(served, channel, head);
    return Reply{200, "image/jpeg", "", {{"Cache-Control", "no-store"}}, head ? Reply::Body::kFixed : Reply::Body::kSnapshot,
                 channel};
}

// WHEP: POST /whep/<ID> offers, DELETE /whep/<ID>/<session> ends. Answers
// carry every candidate, so candidates trickled with PATCH are not taken.
Reply Whep(Served &served, const Request &request) {
    const std::string_view rest = request.path.substr(6);
    const size_t slash = rest.find('/');
    Channel *channel = served.channels.Find(rest.substr(0, slash));
    if (channel == nullptr) return Text(404, "no such camera\n");
    if (served.webrtc == nullptr) return Text(404, "no WebRTC here: the server runs with --webrtc off or without it\n");
    if (slash != std::string_view::npos) {
        if (request.method != "DELETE") return NotAllowed("DELETE");
        return served.webrtc->End(channel->id(), rest.substr(slash + 1)) ? Text(200, "session ended\n")
                                                                         : Text(404, "no such session\n");
    }
    if (request.method != "POST") return NotAllowed("POST");
    const std::string_view type = request.type.substr(0, request.type.find(';'));
    if (type != "application/sdp") return Text(400, "the offer must be SDP, sent as Content-Type: application/sdp\n");
    if (!TakeStream(served)) return TooMany();
    Reply reply{200, "", std::string(request.body), {}, Reply::Body::kOffer, channel};
    reply.slot = std::shared_ptr<void>(&served, [](Served *s) { EndStream(*s); });
    return reply;
}

}  // namespace

Reply Route(Served &served, const Request &request) {
    const std::string_view method = request.method, path = request.path, range = request.range;
    if (path.substr(0, 6) == "/whep/") return Whep(served, request);
    const bool head = method == "HEAD";
    if (method != "GET" && !head) return NotAllowed("GET, HEAD");
    if (path == "/") return Reply{200, "text/html; charset=utf-8", std::string(kPage), {}};
    if (path == "/stats") return Reply{200, "application/json", FiguresJson(served.channels.Figures(), Process(served)), {}};
    if (path == "/metrics") {
        return Reply{200, std::string(kMetricsType), MetricsText(served.channels.Figures(), Process(served)), {}};
    }
    bool matched = false;
    Reply reply = Pictures(served, path, head, &matched);
    if (matched) return reply;
    if (path == "/recordings" || path.substr(0, 12) == "/recordings/") {
        if (served.recordings == nullptr) return Text(404, "not recording: start the server with --record DIR\n");
        return path == "/recordings" ? Reply{200, "application/json", served.recordings->Json(), {}}
                                     : served.recordings->Serve(path.substr(12), range, head);
    }
    return Text(404, "not found\n");
}

void EndStream(Served &served) { served.streams.fetch_sub(1); }

}  // namespace twincam::serve
