#include "router.h"

#include "figures_json.h"
#include "metrics.h"
#include "page.h"
#include "process.h"

namespace twincam::serve {
namespace {

// The feed a path's camera id names, or nullptr: only the digits of a served
// camera's id, nothing before or after them. A camera that is down is
// served all the same: its clients see "no signal" until it is back.
CameraFeed *FeedOf(Served &served, std::string_view id) {
    if (id.empty() || id.size() > 3 || id.find_first_not_of("0123456789") != std::string_view::npos) return nullptr;
    const auto it = served.feeds.find(std::stoi(std::string(id)));
    if (it == served.feeds.end()) return nullptr;
    return it->second.get();
}

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
    return ProcessFigures{served.streams.load(), common::ThreadCount(), common::ResidentKiB(), common::LiveBuffers(),
                          served.connections.load()};
}

std::vector<FeedFigures> Cameras(Served &served) {
    std::vector<FeedFigures> cameras;
    for (auto &[id, feed] : served.feeds) cameras.push_back(feed->Figures());
    return cameras;
}

Reply Stream(Served &served, CameraFeed *feed, bool head) {
    Reply reply{200, "multipart/x-mixed-replace; boundary=" + std::string(kBoundary), "", {{"Cache-Control", "no-store"}}};
    if (head) return reply;
    if (served.streams.fetch_add(1) >= served.maxStreams) {
        served.streams.fetch_sub(1);
        reply = Text(503, "too many clients\n");
        reply.headers.emplace_back("Retry-After", "5");
        return reply;
    }
    ++feed->clients;
    reply.kind = Reply::Body::kStream;
    reply.feed = feed;
    return reply;
}

}  // namespace

Reply Route(Served &served, std::string_view method, std::string_view path) {
    const bool head = method == "HEAD";
    if (method != "GET" && !head) {
        Reply reply = Text(405, "only GET and HEAD\n");
        reply.headers.emplace_back("Allow", "GET, HEAD");
        return reply;
    }
    if (path == "/") return Reply{200, "text/html; charset=utf-8", std::string(kPage), {}};
    if (path == "/stats") return Reply{200, "application/json", FiguresJson(Cameras(served), Process(served)), {}};
    if (path == "/metrics") return Reply{200, std::string(kMetricsType), MetricsText(Cameras(served), Process(served)), {}};
    std::string_view id;
    const bool snapshot = Between(path, "/snapshot/", ".jpg", &id);
    if (snapshot || Between(path, "/stream/", "", &id)) {
        CameraFeed *feed = FeedOf(served, id);
        if (feed == nullptr) return Text(404, "no such camera\n");
        if (!snapshot) return Stream(served, feed, head);
        return Reply{200, "image/jpeg", "", {{"Cache-Control", "no-store"}},
                     head ? Reply::Body::kFixed : Reply::Body::kSnapshot, feed};
    }
    return Text(404, "not found\n");
}

void EndStream(Served &served, CameraFeed *feed) {
    --feed->clients;
    served.streams.fetch_sub(1);
}

}  // namespace twincam::serve
