#include "router.h"

#include "page.h"
#include "process.h"
#include "recordings.h"

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

ProcessFigures Process(Served &served) {
    return ProcessFigures{served.streams.load(), served.connections.load(), common::ThreadCount(),
                          common::ResidentKiB(), common::LiveBuffers()};
}

Reply Stream(Served &served, Channel *channel, bool head) {
    Reply reply{200, "multipart/x-mixed-replace; boundary=" + std::string(kBoundary), "", {{"Cache-Control", "no-store"}}};
    if (head) return reply;
    if (served.streams.fetch_add(1) >= served.maxClients) {
        served.streams.fetch_sub(1);
        reply = Text(503, "too many clients\n");
        reply.headers.emplace_back("Retry-After", "5");
        return reply;
    }
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

}  // namespace

Reply Route(Served &served, std::string_view method, std::string_view path, std::string_view range) {
    const bool head = method == "HEAD";
    if (method != "GET" && !head) {
        Reply reply = Text(405, "only GET and HEAD\n");
        reply.headers.emplace_back("Allow", "GET, HEAD");
        return reply;
    }
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
