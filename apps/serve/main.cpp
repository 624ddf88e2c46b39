// twincam-serve: the cameras live in a browser, over RTSP and on disk. One
// channel per camera owns its source (read, reopened while it is down, "no
// signal" meanwhile) and its encoders, each running only while a front end
// wants it: JPEG for the page's MJPEG and snapshots, one H.264 encoder for
// RTSP and the recorder together. The front ends attach to the channels and
// never reach into them. One reader steps every channel in turn.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "http_server.h"
#include "log.h"
#include "recorder.h"
#include "rtsp_service.h"
#include "run_control.h"
#include "serve_options.h"
#include "service_notify.h"
#include "stop_within.h"
#include "webrtc_service.h"

using namespace twincam::serve;
using namespace twincam::common;

namespace {

// SIGHUP: read the certificate and key again (and never end the server, as it would by default).
std::atomic<bool> g_reload{false};
extern "C" void OnReloadSignal(int) { g_reload.store(true); }

// The certificate and key of --tls-cert and --tls-key, checked; nothing
// without them; false when they do not load.
bool LoadTls(const Options &opt, std::unique_ptr<TlsCredentials> *tls) {
    std::signal(SIGHUP, OnReloadSignal);
    if (opt.tlsCert.empty()) return true;
    *tls = std::make_unique<TlsCredentials>(opt.tlsCert, opt.tlsKey);
    std::string error;
    if ((*tls)->Load(&error)) return true;
    Log("%s", error.c_str());
    return false;
}

void Reload(const Options &opt, TlsCredentials *tls) {
    if (!g_reload.exchange(false) || tls == nullptr) return;
    if (std::string error; !tls->Reload(&error)) {
        Log("SIGHUP: %s; the certificate in use stays", error.c_str());
    } else {
        Log("SIGHUP: new connections get the certificate in %s", opt.tlsCert.c_str());
    }
}

// The users of --auth-file, or nothing to serve everyone; false when the file is bad.
bool LoadUsers(const Options &opt, std::optional<Htpasswd> *users) {
    if (opt.authFile.empty()) return true;
    std::string error;
    *users = Htpasswd::Load(opt.authFile, &error);
    if (!*users) Log("--auth-file %s", error.c_str());
    return users->has_value();
}

Channel::Settings ChannelSettings(const Options &opt) {
    return {{opt.fps, opt.width, opt.height, Seconds(opt.reopenMaxSeconds)},
            opt.quality,
            {EncoderFragment(opt.h264, opt.fps), opt.fps, opt.width, opt.height}};
}

// What the server speaks and does, in the order they stop: WebRTC first,
// so that no offer still waits for its answer when HTTP stops.
struct FrontEnds {
    std::unique_ptr<WebRtcService> webrtc;
    std::unique_ptr<HttpServer> http;
    std::unique_ptr<RtspService> rtsp;
    std::unique_ptr<Recorder> recorder;

    std::vector<FrontEnd *> InStopOrder() const {
        std::vector<FrontEnd *> ends;
        for (FrontEnd *end : {static_cast<FrontEnd *>(webrtc.get()), static_cast<FrontEnd *>(http.get()),
                              static_cast<FrontEnd *>(rtsp.get()), static_cast<FrontEnd *>(recorder.get())}) {
            if (end != nullptr) ends.push_back(end);
        }
        return ends;
    }
    void Stop() {
        for (FrontEnd *end : InStopOrder()) end->Stop();
    }
    // Stops them by the deadline; the name of one that did not stop, or "".
    // TWINCAM_SERVE_TEST_HANG_STOP names a front end whose stop never
    // returns, so that the tests can see the deadline hold.
    std::string StopBy(Clock::time_point deadline) {
        const char *hang = std::getenv("TWINCAM_SERVE_TEST_HANG_STOP");
        std::vector<Step> steps;
        for (FrontEnd *end : InStopOrder()) {
            const bool hangs = hang != nullptr && std::string(hang) == end->name();
            steps.push_back({end->name(), [end, hangs] {
                                 while (hangs) std::this_thread::sleep_for(std::chrono::hours(1));
                                 end->Stop();
                             }});
        }
        return RunWithin(std::move(steps), deadline);
    }
    // The front ends the watchdog asks on their ports.
    std::vector<ServiceNotifier::Probe> Probes() const {
        std::vector<ServiceNotifier::Probe> probes = {
            {"the HTTP side", [this] { return http->Answers(std::chrono::seconds(1)); }}};
        if (rtsp != nullptr) probes.push_back({"RTSP", [this] { return rtsp->Answers(std::chrono::seconds(1)); }});
        return probes;
    }
};

// The recorder, WebRTC, HTTP, RTSP; false with *error when one cannot start.
bool StartFrontEnds(const Options &opt, Channels &channels, Served &served, SignIn *users,
                    TlsCredentials *tls, FrontEnds *ends, std::string *error) {
    if (!opt.recordDir.empty()) {
        ends->recorder = std::make_unique<Recorder>(
            channels, Recorder::Settings{opt.recordDir, EncoderFragment(opt.h264, opt.fps), opt.recordSegmentSeconds,
                                         opt.recordMaxAgeSeconds, opt.recordMaxBytesValue});
        if (!ends->recorder->Start(error)) return false;
        served.recordings = &ends->recorder->recordings();
    }
    ends->webrtc = StartWebRtc(opt, channels, error);
    if (!error->empty()) return false;
    served.webrtc = ends->webrtc.get();
    ends->http = std::make_unique<HttpServer>(served, opt.limits, users, tls);
    if (!ends->http->Start(opt.host, opt.port, error)) return false;
    ends->rtsp = StartRtsp(opt, channels, users, tls, error);
    return error->empty();
}

void Announce(const Options &opt, const FrontEnds &ends, bool signIn) {
    const char *s = opt.tlsCert.empty() ? "" : "s";
    std::printf("twincam-serve: http%s://%s:%d/\n", s, opt.host.c_str(), ends.http->port());
    if (ends.webrtc != nullptr) {
        std::printf("twincam-serve: WebRTC offers (WHEP) to http%s://%s:%d/whep/<ID>\n", s, opt.host.c_str(),
                    ends.http->port());
    }
    if (ends.rtsp != nullptr) std::printf("twincam-serve: rtsp%s://%s:%d/\n", s, opt.rtspHost.c_str(), ends.rtsp->port());
    if (ends.recorder != nullptr) std::printf("twincam-serve: recording into %s\n", opt.recordDir.c_str());
    std::fflush(stdout);
    if (!ends.http->loopback() && !signIn) {
        Log("warning: listening on %s without --auth-file: anyone who can reach this "
            "address sees the cameras",
            opt.host.c_str());
    }
    if (!ends.http->loopback() && signIn && !*s) {
        Log("warning: listening on %s with --auth-file but without TLS: passwords cross "
            "the network in the clear; give --tls-cert and --tls-key",
            opt.host.c_str());
    }
}

// The longest a stop takes from SIGTERM, front ends first, then the reader.
constexpr auto kFrontEndsStop = std::chrono::seconds(3);
constexpr auto kWholeStop = std::chrono::milliseconds(4500);

// Whatever hangs at the stop is named, and the server leaves at once.
[[noreturn]] void Abandon(const std::string &why) {
    Log("%s; exiting without closing the cameras", why.c_str());
    FlushLog(true);
    std::fflush(nullptr);
    _exit(kExitFailure);
}

// Reads until Ctrl-C or SIGTERM; then the front ends, then the reader, all
// within a few seconds. A front end that does not stop, or a reader wedged
// inside a library call (the cameras cannot be closed while it holds the
// library), is named, and the server leaves at once.
void Serve(const Options &opt, Channels &channels, FrontEnds &ends, TlsCredentials *tls) {
    channels.Read();
    const Clock::duration stuckLimit =
        std::max<Clock::duration>(std::chrono::seconds(2), std::chrono::milliseconds(10000 / opt.fps));
    ServiceNotifier notifier(channels, stuckLimit, ends.Probes());
    notifier.Ready();
    for (int tick = 0; !g_stop.load(); ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Reload(opt, tls);
        if (tick % 20 == 0) FlushLog();
    }
    const Clock::time_point stopAt = Clock::now();
    notifier.Stopping();
    if (const std::string hung = ends.StopBy(stopAt + kFrontEndsStop); !hung.empty()) {
        Abandon("the " + hung + " front end did not stop within " + std::to_string(kFrontEndsStop.count()) + " s");
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(stopAt + kWholeStop - Clock::now());
    if (channels.StopReading(std::max(left, std::chrono::milliseconds(500)))) return;
    Clock::duration stuckFor{};
    const int stuck = channels.Stuck(Clock::duration::zero(), &stuckFor);
    char why[120];
    std::snprintf(why, sizeof why, "camera %d has been stuck inside a library call for %.1f s", stuck,
                  std::chrono::duration<double>(stuckFor).count());
    Abandon(why);
}

}  // namespace

int main(int argc, char **argv) {
    // 1. Options, the users who may sign in, the certificate.
    Options opt;
    if (const std::optional<int> exit = ParseOptions(argc, argv, &opt)) return *exit;
    std::optional<Htpasswd> users;
    if (!LoadUsers(opt, &users)) return kExitFailure;
    std::unique_ptr<TlsCredentials> tls;
    if (!LoadTls(opt, &tls)) return kExitUsage;

    // 2. Ctrl-C and SIGTERM shut down cleanly (SIGHUP reloads the certificate);
    // GLib's and GStreamer's messages share the log's limit.
    InstallStopHandlers();
    RouteGLibMessages();

    // 3. A channel per camera; a camera that is not there is served all the same.
    Channels channels(opt.cameras, ChannelSettings(opt));
    channels.Start();

    // 4. The front ends: the recorder, HTTP and RTSP, within the limits.
    Served served(channels);
    served.maxClients = opt.limits.maxClients;
    const std::unique_ptr<SignIn> signIn = users ? std::make_unique<SignIn>(*users) : nullptr;
    served.signIn = signIn.get();
    FrontEnds ends;
    if (std::string error; !StartFrontEnds(opt, channels, served, signIn.get(), tls.get(), &ends, &error)) {
        Log("%s", error.c_str());
        ends.Stop();
        return kExitFailure;
    }
    Announce(opt, ends, users.has_value());

    // 5. Read and serve until asked to stop; the service manager hears how it goes.
    Serve(opt, channels, ends, tls.get());

    // 6. The encoders, then the cameras.
    const bool closed = channels.Stop();
    FlushLog(true);
    std::printf("twincam-serve: stopped\n");
    return closed ? kExitOk : kExitFailure;
}
