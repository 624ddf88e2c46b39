// twincam-serve: the cameras live in a browser. One reader reads every open
// camera in turn and hands each frame's dvpp buffer to that camera's
// encoder, which turns the newest frame into a JPEG, once, and frees the
// buffer; a frame a newer one replaces unencoded is freed then. Every
// client of a camera gets the same JPEG. A slow client only ever waits for
// the newest frame and holds up nobody else.
#include <cstdio>
#include <thread>

#include "http_server.h"
#include "rtsp_service.h"
#include "run_control.h"
#include "serve_options.h"

using namespace twincam::serve;
using namespace twincam::common;

namespace {

// The users of --auth-file, or nothing to serve everyone; false when the file is bad.
bool LoadUsers(const Options &opt, std::optional<Htpasswd> *users) {
    if (opt.authFile.empty()) return true;
    std::string error;
    *users = Htpasswd::Load(opt.authFile, &error);
    if (!*users) std::fprintf(stderr, "twincam-serve: --auth-file %s\n", error.c_str());
    return users->has_value();
}

// A camera that fails to open shows as failed; the others are read.
std::vector<CameraFeed *> StartFeeds(const Options &opt, Served &served) {
    std::vector<CameraFeed *> reading;
    for (int id : opt.cameras) {
        auto feed = std::make_unique<CameraFeed>(id, opt.quality);
        if (feed->Start(opt.fps, opt.width, opt.height)) reading.push_back(feed.get());
        served.feeds.emplace(id, std::move(feed));
    }
    return reading;
}

void CloseFeeds(const std::vector<CameraFeed *> &reading) {
    for (CameraFeed *feed : reading) {
        if (!feed->Close()) std::fprintf(stderr, "twincam-serve: closing camera %d failed\n", feed->id());
    }
}

void Announce(const Options &opt, const HttpServer &http, const RtspService *rtsp, bool signIn) {
    std::printf("twincam-serve: http://%s:%d/\n", opt.host.c_str(), http.port());
    if (rtsp != nullptr) std::printf("twincam-serve: rtsp://%s:%d/\n", opt.rtspHost.c_str(), rtsp->port());
    std::fflush(stdout);
    if (!http.loopback() && !signIn) {
        std::fprintf(stderr,
                     "twincam-serve: warning: listening on %s without --auth-file: anyone who can reach this "
                     "address sees the cameras\n",
                     opt.host.c_str());
    }
}

// Reads until Ctrl-C or SIGTERM; then clients first, then the reader.
void Serve(HttpServer &http, RtspService *rtsp, const std::vector<CameraFeed *> &reading) {
    std::atomic<bool> stopReading{false};
    std::thread reader([&] { ReadFeeds(reading, stopReading); });
    while (!g_stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    http.Stop();
    if (rtsp != nullptr) rtsp->Stop();
    stopReading.store(true);
    reader.join();
}

}  // namespace

int main(int argc, char **argv) {
    // 1. Options, and the users who may sign in.
    Options opt;
    if (const std::optional<int> exit = ParseOptions(argc, argv, &opt)) return *exit;
    std::optional<Htpasswd> users;
    if (!LoadUsers(opt, &users)) return kExitFailure;

    // 2. Ctrl-C and SIGTERM shut down cleanly.
    InstallStopHandlers();

    // 3. Open the cameras and start their encoders.
    Served served;
    served.maxStreams = opt.limits.maxStreams;
    const std::vector<CameraFeed *> reading = StartFeeds(opt, served);

    // 4. The servers, HTTP and RTSP: one thread each for every connection, within the limits.
    HttpServer http(served, opt.limits, users ? &*users : nullptr);
    std::string error;
    std::unique_ptr<RtspService> rtsp;
    if (http.Start(opt.host, opt.port, &error)) rtsp = StartRtsp(opt, served, users ? &*users : nullptr, &error);
    if (!error.empty()) {
        std::fprintf(stderr, "twincam-serve: %s\n", error.c_str());
        http.Stop();
        CloseFeeds(reading);
        return kExitFailure;
    }
    Announce(opt, http, rtsp.get(), users.has_value());

    // 5. Read and serve until asked to stop.
    Serve(http, rtsp.get(), reading);

    // 6. The encoders, then the cameras.
    for (auto &[id, feed] : served.feeds) feed->Stop();
    CloseFeeds(reading);
    std::printf("twincam-serve: stopped\n");
    return kExitOk;
}
