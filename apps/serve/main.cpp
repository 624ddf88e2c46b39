// twincam-serve: the cameras live in a browser. One reader reads every open
// camera in turn and hands each frame's dvpp buffer to that camera's
// encoder, which turns the newest frame into a JPEG, once, and frees the
// buffer; a frame a newer one replaces unencoded is freed then. Every
// client of a camera gets the same JPEG. A slow client only ever waits for
// the newest frame and holds up nobody else.
#include <httplib.h>

#include <cstdio>
#include <thread>

#include "routes.h"
#include "run_control.h"
#include "serve_options.h"

using namespace twincam::serve;
using namespace twincam::common;

namespace {

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

// The port bound, or -1.
int Bind(httplib::Server &server, const Options &opt) {
    if (opt.port == 0) return server.bind_to_any_port(opt.host);
    return server.bind_to_port(opt.host, opt.port) ? opt.port : -1;
}

// Serves until Ctrl-C or SIGTERM; then clients first, then the reader.
void Serve(httplib::Server &server, Served &served, const std::vector<CameraFeed *> &reading) {
    std::atomic<bool> stopReading{false};
    std::thread reader([&] { ReadFeeds(reading, stopReading); });
    std::thread listener([&] { server.listen_after_bind(); });
    while (!g_stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    served.stopping.store(true);
    server.stop();
    listener.join();
    stopReading.store(true);
    reader.join();
}

}  // namespace

int main(int argc, char **argv) {
    // 1. Options.
    Options opt;
    if (const std::optional<int> exit = ParseOptions(argc, argv, &opt)) return *exit;

    // 2. Ctrl-C and SIGTERM shut down cleanly.
    InstallStopHandlers();

    // 3. Open the cameras and start their encoders.
    Served served;
    served.maxClients = opt.maxClients;
    const std::vector<CameraFeed *> reading = StartFeeds(opt, served);

    // 4. The server. Every stream holds a thread while it lasts; the rest share a few more.
    httplib::Server server;
    server.new_task_queue = [&] { return new httplib::ThreadPool(static_cast<size_t>(opt.maxClients) + 4); };
    AddRoutes(server, served);
    const int port = Bind(server, opt);
    if (port < 0) {
        std::fprintf(stderr, "twincam-serve: cannot listen on %s\n", opt.listen.c_str());
        CloseFeeds(reading);
        return kExitFailure;
    }
    std::printf("twincam-serve: http://%s:%d/\n", opt.host.c_str(), port);
    std::fflush(stdout);

    // 5. Read and serve until asked to stop.
    Serve(server, served, reading);

    // 6. The encoders, then the cameras.
    for (auto &[id, feed] : served.feeds) feed->Stop();
    CloseFeeds(reading);
    std::printf("twincam-serve: stopped\n");
    return kExitOk;
}
