#include "serve_options.h"

#include <cmath>

#include <cstdio>
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
    app.add_option("--max-clients", limits.maxClients, "Streams served at once: MJPEG and WebRTC together, RTSP apart; more get 503")
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

// "30s", "10m", "24h", "7d" (a bare number is seconds); -1 when it is none of these.
double ParseAge(const std::string &text) {
    char *end = nullptr;
    const double n = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !(n > 0) || !std::isfinite(n)) return -1;
    const std::string unit(end);
    if (unit.empty() || unit == "s") return n;
    if (unit == "m") return n * 60;
    if (unit == "h") return n * 3600;
    if (unit == "d") return n * 86400;
    return -1;
}

// "500M", "2G", "800k" (powers of 1024; a bare number is bytes); -1 when it is none of these.
long long ParseBytes(const std::string &text) {
    char *end = nullptr;
    const double n = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !(n > 0) || !std::isfinite(n)) return -1;
    const std::string unit(end);
    const double scale = unit.empty() ? 1 : unit == "k" || unit == "K" ? 1024.0 : unit == "M" ? 1024.0 * 1024
                         : unit == "G" ? 1024.0 * 1024 * 1024 : unit == "T" ? 1024.0 * 1024 * 1024 * 1024 : -1;
    return scale < 0 || n * scale > 9e18 ? -1 : static_cast<long long>(n * scale);
}

void AddRecordOptions(CLI::App &app, Options *opt) {
    app.add_option("--record", opt->recordDir,
                   "Record every camera into DIR/cam<ID>/ as MP4 segments named by their UTC start time");
    app.add_option("--record-segment", opt->recordSegmentSeconds, "Seconds per recorded segment")
        ->check(CLI::Range(1, 86400))
        ->capture_default_str();
    app.add_option("--record-max-age", opt->recordMaxAge,
                   "Delete recorded segments older than this: 30s, 10m, 24h, 7d (default: keep)");
    app.add_option("--record-max-bytes", opt->recordMaxBytes,
                   "Delete the oldest recorded segments past this much in all: 500M, 2G (default: no limit)");
}

// The record limits as numbers; what is wrong, or "".
std::string CheckRecordOptions(Options *opt) {
    if (opt->recordDir.empty() && (!opt->recordMaxAge.empty() || !opt->recordMaxBytes.empty())) {
        return "--record-max-age and --record-max-bytes: only with --record DIR";
    }
    if (!opt->recordMaxAge.empty() && (opt->recordMaxAgeSeconds = ParseAge(opt->recordMaxAge)) <= 0) {
        return "--record-max-age: '" + opt->recordMaxAge + "' is not an age such as 30s, 10m, 24h or 7d";
    }
    if (!opt->recordMaxBytes.empty() && (opt->recordMaxBytesValue = ParseBytes(opt->recordMaxBytes)) <= 0) {
        return "--record-max-bytes: '" + opt->recordMaxBytes + "' is not a size such as 500M or 2G";
    }
    return "";
}

void AddWebRtcOptions(CLI::App &app, Options *opt) {
    app.add_option("--webrtc", opt->webrtc, "H.264 to browsers over WebRTC at POST /whep/<ID> (WHEP): on or off")
        ->check(CLI::IsMember({"on", "off"}))
        ->capture_default_str();
    app.add_option("--stun", opt->stun, "HOST:PORT of a STUN server, for WebRTC peers beyond a NAT (default: host "
                   "candidates on the --listen address alone)");
    app.add_option("--webrtc-ports", opt->webrtcPorts, "MIN-MAX: the UDP ports WebRTC sessions use, for a firewall "
                   "(default: any)");
}

// The WebRTC options as numbers; what is wrong, or "".
std::string CheckWebRtcOptions(Options *opt) {
    opt->webrtcOn = opt->webrtc == "on";
    std::string host;
    int port = 0;
    if (!opt->stun.empty() && (!ParseListen(opt->stun, &host, &port) || port == 0)) {
        return "--stun: '" + opt->stun + "' is not HOST:PORT";
    }
    if (opt->webrtcPorts.empty()) return "";
    int low = 0, high = 0;
    char end = 0;
    if (std::sscanf(opt->webrtcPorts.c_str(), "%d-%d%c", &low, &high, &end) != 2 || low < 1024 || high > 65535 ||
        high < low + 1) {
        return "--webrtc-ports: '" + opt->webrtcPorts + "' is not MIN-MAX, two or more ports within 1024-65535";
    }
    opt->webrtcMinPort = low;
    opt->webrtcMaxPort = high;
    return "";
}

}  // namespace

std::optional<int> ParseOptions(int argc, char **argv, Options *opt) {
    CLI::App app{"Serve twincam cameras live: a page, MJPEG streams, snapshots, recordings, figures and metrics over "
                 "HTTP, H.264 over WebRTC and RTSP; record them.",
                 "twincam-serve"};
    app.set_version_flag("--version", "twincam-serve " TWINCAM_VERSION);
    common::AddCameraOptions(app, *opt, "Camera to serve, 0 or 1; repeat for both (default both)");
    app.add_option("--listen", opt->listen, "HOST:PORT to listen on (port 0 picks a free one)")->capture_default_str();
    app.add_option("--quality", opt->quality, "JPEG quality")->check(CLI::Range(1, 100))->capture_default_str();
    app.add_option("--auth-file", opt->authFile, "htpasswd file (bcrypt, as htpasswd -B writes); "
                   "when given, every request needs a user and password from it")
        ->check(CLI::ExistingFile);
    app.add_option("--tls-cert", opt->tlsCert, "PEM certificate (the chain may follow): HTTPS and RTSPS on the same "
                   "ports; SIGHUP reads it and the key again");
    app.add_option("--tls-key", opt->tlsKey, "PEM private key of --tls-cert");
    app.add_option("--rtsp", opt->rtsp, "HOST:PORT to serve RTSP on, rtsp://HOST:PORT/cam<ID> (port 0 picks a free "
                   "one), or off")
        ->capture_default_str();
    common::AddReopenOption(app, opt->reopenMaxSeconds);
    common::AddH264Options(app, opt->h264);
    AddLimits(app, opt->limits);
    AddRecordOptions(app, opt);
    AddWebRtcOptions(app, opt);
    if (const std::optional<int> exit = common::ParseCommandLine(app, argc, argv)) return exit;
    if (const std::string wrong = common::CheckCameraOptions(*opt, {0, 1}); !wrong.empty()) return common::Usage(wrong);
    if (!ParseListen(opt->listen, &opt->host, &opt->port)) return common::Usage("--listen: '" + opt->listen + "' is not HOST:PORT");
    opt->rtspOn = opt->rtsp != "off";
    if (opt->rtspOn && !ParseListen(opt->rtsp, &opt->rtspHost, &opt->rtspPort)) {
        return common::Usage("--rtsp: '" + opt->rtsp + "' is not HOST:PORT or off");
    }
    if (const std::string wrong = CheckRecordOptions(opt); !wrong.empty()) return common::Usage(wrong);
    if (const std::string wrong = CheckWebRtcOptions(opt); !wrong.empty()) return common::Usage(wrong);
    if (opt->tlsCert.empty() != opt->tlsKey.empty()) return common::Usage("--tls-cert and --tls-key go together");
    return std::nullopt;
}

}  // namespace twincam::serve
