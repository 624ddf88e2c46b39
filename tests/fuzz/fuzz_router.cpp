// libFuzzer over twincam-serve's router: any method and path, as a hostile
// client would send them, against both cameras (not reading), the figures
// and the metrics. The first byte picks the method, the rest is the path.
#include <cstddef>
#include <cstdint>
#include <string>

#include "router.h"

namespace {

twincam::serve::Served &TheServed() {
    static twincam::serve::Served served;
    if (served.feeds.empty()) {
        for (int id : {0, 1}) served.feeds.emplace(id, std::make_unique<twincam::serve::CameraFeed>(id, 80, twincam::common::CameraLink::Settings{30, 640, 480}));
    }
    return served;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const char *const kMethods[] = {"GET", "HEAD", "POST", "PUT", "DELETE", "OPTIONS", "get", ""};
    if (size == 0) return 0;
    const std::string method = kMethods[data[0] % (sizeof kMethods / sizeof *kMethods)];
    const std::string path(reinterpret_cast<const char *>(data + 1), size - 1);
    twincam::serve::Served &served = TheServed();
    const twincam::serve::Reply reply = Route(served, method, path);
    if (reply.kind == twincam::serve::Reply::Body::kStream) EndStream(served, reply.feed);
    if (reply.status != 200 && reply.status != 404 && reply.status != 405 && reply.status != 503) __builtin_trap();
    if (served.streams.load() != 0) __builtin_trap();  // every stream given back
    return 0;
}
