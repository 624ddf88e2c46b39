// libFuzzer over twincam-serve's router: any method and path, as a hostile
// client would send them, against both cameras (not reading), the figures
// and the metrics. The first byte picks the method, the rest is the path.
#include <cstddef>
#include <cstdint>
#include <string>

#include "router.h"

namespace {

twincam::serve::Served &TheServed() {
    static twincam::serve::Channels channels({0, 1}, twincam::serve::Channel::Settings{{30, 640, 480}, 80, {"", 30, 640, 480}});
    static twincam::serve::Served served(channels);
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
    if (reply.kind == twincam::serve::Reply::Body::kStream) EndStream(served);
    if (reply.status != 200 && reply.status != 404 && reply.status != 405 && reply.status != 503) __builtin_trap();
    if (served.streams.load() != 0) __builtin_trap();  // every stream given back
    return 0;
}
