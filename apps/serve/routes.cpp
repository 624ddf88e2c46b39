#include "routes.h"

#include <cstdlib>

#include "figures_json.h"
#include "page.h"
#include "process.h"

namespace twincam::serve {
namespace {

// The feed a path's camera id names, or nullptr for any other text.
CameraFeed *FeedOf(Served &served, const std::string &id) {
    char *end = nullptr;
    const long n = std::strtol(id.c_str(), &end, 10);
    if (id.empty() || *end != '\0' || id.size() > 3) return nullptr;
    const auto it = served.feeds.find(static_cast<int>(n));
    return it == served.feeds.end() ? nullptr : it->second.get();
}

void NotDelivering(httplib::Response &res) {
    res.status = 404;
    res.set_content("no such camera, or it is not delivering\n", "text/plain");
}

std::string StatsJson(Served &served) {
    std::vector<FeedFigures> cameras;
    for (auto &[id, feed] : served.feeds) cameras.push_back(feed->Figures());
    const ProcessFigures process{served.streams.load(), common::ThreadCount(), common::ResidentKiB(),
                                 common::LiveBuffers()};
    return FiguresJson(cameras, process);
}

// Sends the newest JPEG when this client is ready for one; false ends the stream.
bool SendPart(Served &served, CameraFeed *feed, uint64_t *sent, httplib::DataSink &sink) {
    Jpeg jpeg;
    while (jpeg == nullptr) {
        if (served.stopping.load()) return false;
        jpeg = feed->Next(*sent, std::chrono::milliseconds(200));
        if (jpeg == nullptr && !sink.is_writable()) return false;
    }
    *sent = jpeg->number;
    const std::string head = "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                             std::to_string(jpeg->bytes.size()) + "\r\n\r\n";
    if (!sink.write(head.data(), head.size()) || !sink.write(jpeg->bytes.data(), jpeg->bytes.size()) ||
        !sink.write("\r\n", 2)) {
        return false;
    }
    feed->Delivered(jpeg->readAt);
    return true;
}

void Stream(Served &served, CameraFeed *feed, httplib::Response &res) {
    if (feed == nullptr || feed->Next(0, std::chrono::seconds(2)) == nullptr) return NotDelivering(res);
    if (served.streams.fetch_add(1) >= served.maxClients) {
        served.streams.fetch_sub(1);
        res.status = 503;
        res.set_header("Retry-After", "5");
        res.set_content("too many clients\n", "text/plain");
        return;
    }
    ++feed->clients;
    res.set_header("Cache-Control", "no-store");
    auto sent = std::make_shared<uint64_t>(0);
    res.set_chunked_content_provider(
        "multipart/x-mixed-replace; boundary=frame",
        [&served, feed, sent](size_t, httplib::DataSink &sink) { return SendPart(served, feed, sent.get(), sink); },
        [&served, feed](bool) {
            --feed->clients;
            served.streams.fetch_sub(1);
        });
}

}  // namespace

void AddRoutes(httplib::Server &server, Served &served) {
    server.Get("/", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(kPage, "text/html; charset=utf-8");
    });
    server.Get("/stats", [&served](const httplib::Request &, httplib::Response &res) {
        res.set_content(StatsJson(served), "application/json");
    });
    server.Get(R"(/snapshot/(\d+)\.jpg)", [&served](const httplib::Request &req, httplib::Response &res) {
        CameraFeed *feed = FeedOf(served, req.matches[1].str());
        const Jpeg jpeg = feed != nullptr ? feed->Next(0, std::chrono::seconds(2)) : nullptr;
        if (jpeg == nullptr) return NotDelivering(res);
        res.set_header("Cache-Control", "no-store");
        res.set_content(jpeg->bytes, "image/jpeg");
    });
    server.Get(R"(/stream/(\d+))", [&served](const httplib::Request &req, httplib::Response &res) {
        Stream(served, FeedOf(served, req.matches[1].str()), res);
    });
}

}  // namespace twincam::serve
