// twincam-serve: the cameras live in a browser. One reader reads every
// camera in turn and hands each frame's dvpp buffer to that camera's
// encoder, which turns the newest frame into a JPEG, once, and frees the
// buffer; a frame a newer one replaces unencoded is freed then. Every
// client of a camera gets the same JPEG. A slow client only ever waits for
// the newest frame and holds up nobody else. A camera that fails is opened
// again and again until it is back; its clients see "no signal" meanwhile.
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "http_server.h"
#include "rtsp_service.h"
#include "run_control.h"
#include "serve_options.h"
#include "service_notify.h"

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

// Every camera is served; one that does not open is tried again by the reader.
std::vector<CameraFeed *> StartFeeds(const Options &opt, Served &served) {
    const CameraLink::Settings camera{opt.fps, opt.width, opt.height, Seconds(opt.reopenMaxSeconds)};
    std::vector<CameraFeed *> feeds;
    for (int id : opt.cameras) {
        auto feed = std::make_unique<CameraFeed>(id, opt.quality, camera);
        feed->Start();
        feeds.push_back(feed.get());
        served.feeds.emplace(id, std::move(feed));
    }
    return feeds;
}

void CloseFeeds(const std::vector<CameraFeed *> &feeds) {
    for (CameraFeed *feed : feeds) {
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

// A reader wedged inside a library call never returns, and the camera
// cannot be closed while it holds the library: say which, and leave at once.
void AwaitReader(std::thread &reader, const std::atomic<bool> &finished, const std::vector<CameraFeed *> &feeds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(2500);
    while (!finished.load() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (finished.load()) return reader.join();
    Clock::duration stuckFor{};
    const int stuck = StuckCamera(feeds, Clock::duration::zero(), &stuckFor);
    std::fprintf(stderr, "twincam-serve: camera %d has been stuck inside a library call for %.1f s; exiting "
                 "without closing the cameras\n", stuck, std::chrono::duration<double>(stuckFor).count());
    std::fflush(nullptr);
    _exit(kExitFailure);
}

// Reads until Ctrl-C or SIGTERM; then clients first, then the reader.
void Serve(const Options &opt, HttpServer &http, RtspService *rtsp, const std::vector<CameraFeed *> &feeds) {
    std::atomic<bool> stopReading{false}, finished{false};
    std::thread reader([&] {
        ReadFeeds(feeds, stopReading);
        finished.store(true);
    });
    const Clock::duration stuckLimit =
        std::max<Clock::duration>(std::chrono::seconds(2), std::chrono::milliseconds(10000 / opt.fps));
    ServiceNotifier notifier(feeds, stuckLimit, [&http] { return http.Answers(std::chrono::seconds(1)); });
    notifier.Ready();
    while (!g_stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    notifier.Stopping();
    http.Stop();
    if (rtsp != nullptr) rtsp->Stop();
    stopReading.store(true);
    AwaitReader(reader, finished, feeds);
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
    const std::vector<CameraFeed *> feeds = StartFeeds(opt, served);

    // 4. The servers, HTTP and RTSP, event-driven, within the limits.
    HttpServer http(served, opt.limits, users ? &*users : nullptr);
    std::string error;
    std::unique_ptr<RtspService> rtsp;
    if (http.Start(opt.host, opt.port, &error)) rtsp = StartRtsp(opt, served, users ? &*users : nullptr, &error);
    if (!error.empty()) {
        std::fprintf(stderr, "twincam-serve: %s\n", error.c_str());
        http.Stop();
        CloseFeeds(feeds);
        return kExitFailure;
    }
    Announce(opt, http, rtsp.get(), users.has_value());

    // 5. Read and serve until asked to stop; the service manager hears how it goes.
    Serve(opt, http, rtsp.get(), feeds);

    // 6. The encoders, then the cameras.
    for (auto &[id, feed] : served.feeds) feed->Stop();
    CloseFeeds(feeds);
    std::printf("twincam-serve: stopped\n");
    return kExitOk;
}
