#include "serve_options.h"

#include <cstdlib>

namespace twincam::serve {
namespace {

bool ParseListen(const std::string &text, std::string *host, int *port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    char *end = nullptr;
    const long p = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (end == text.c_str() + colon + 1 || *end != '\0' || p < 0 || p > 65535) return false;
    *host = text.substr(0, colon);
    *port = static_cast<int>(p);
    return true;
}

void AddLimits(CLI::App &app, Limits &limits) {
    app.add_option("--max-clients", limits.maxStreams, "Streams served at once; more get 503")
        ->check(CLI::Range(1, 1000))
        ->capture_default_str();
    app.add_option("--max-connections", limits.maxConnections, "Connections open at once; more are closed")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    app.add_option("--max-per-address", limits.maxPerAddress, "Connections open at once from one client address")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    app.add_option("--head-timeout", limits.headSeconds,
                   "Seconds a client has to send a request's head, however slowly it trickles")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    app.add_option("--idle-timeout", limits.idleSeconds, "Seconds without traffic after which a connection is closed")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
}

}  // namespace

std::optional<int> ParseOptions(int argc, char **argv, Options *opt) {
    CLI::App app{"Serve twincam cameras live: a page, MJPEG streams, snapshots, figures and metrics over HTTP, and H.264 "
                 "over RTSP.",
                 "twincam-serve"};
    app.set_version_flag("--version", "twincam-serve " TWINCAM_VERSION);
    common::AddCameraOptions(app, *opt, "Camera to serve, 0 or 1; repeat for both (default both)");
    app.add_option("--listen", opt->listen, "HOST:PORT to listen on (port 0 picks a free one)")->capture_default_str();
    app.add_option("--quality", opt->quality, "JPEG quality")->check(CLI::Range(1, 100))->capture_default_str();
    app.add_option("--auth-file", opt->authFile, "htpasswd file (bcrypt, as htpasswd -B writes); "
                   "when given, every request needs a user and password from it")
        ->check(CLI::ExistingFile);
    app.add_option("--rtsp", opt->rtsp, "HOST:PORT to serve RTSP on, rtsp://HOST:PORT/cam<ID> (port 0 picks a free "
                   "one), or off")
        ->capture_default_str();
    common::AddReopenOption(app, opt->reopenMaxSeconds);
    common::AddH264Options(app, opt->h264);
    AddLimits(app, opt->limits);
    if (const std::optional<int> exit = common::ParseCommandLine(app, argc, argv)) return exit;
    if (const std::string wrong = common::CheckCameraOptions(*opt, {0, 1}); !wrong.empty()) return common::Usage(wrong);
    if (!ParseListen(opt->listen, &opt->host, &opt->port)) return common::Usage("--listen: '" + opt->listen + "' is not HOST:PORT");
    opt->rtspOn = opt->rtsp != "off";
    if (opt->rtspOn && !ParseListen(opt->rtsp, &opt->rtspHost, &opt->rtspPort)) {
        return common::Usage("--rtsp: '" + opt->rtsp + "' is not HOST:PORT or off");
    }
    return std::nullopt;
}

}  // namespace twincam::serve
