// What twincam-serve answers: the page at /, the figures at /stats, a
// snapshot at /snapshot/<ID>.jpg and an MJPEG stream at /stream/<ID>.
#ifndef TWINCAM_SERVE_ROUTES_H
#define TWINCAM_SERVE_ROUTES_H

#include <httplib.h>

#include <atomic>
#include <map>
#include <memory>

#include "camera_feed.h"

namespace twincam::serve {

// What the routes serve from, shared by every connection.
struct Served {
    std::map<int, std::unique_ptr<CameraFeed>> feeds;
    int maxClients = 16;
    std::atomic<int> streams{0};
    std::atomic<bool> stopping{false};
};

void AddRoutes(httplib::Server &server, Served &served);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_ROUTES_H
