// twincam-serve's command line.
#ifndef TWINCAM_SERVE_OPTIONS_H
#define TWINCAM_SERVE_OPTIONS_H

#include <optional>
#include <string>

#include "camera_options.h"
#include "h264_options.h"

namespace twincam::serve {

// What one client, and all of them, may hold of the server.
struct Limits {
    int maxConnections = 2048;  // open at once; more are closed on arrival
    int maxPerAddress = 32;     // open at once from one client address
    int maxClients = 16;        // streams at once: MJPEG and WebRTC together, RTSP apart; more get 503 (RTSP: are closed)
    int headSeconds = 10;       // a request's head must be in within this
    int idleSeconds = 5;        // a connection with no traffic is closed after this
};

struct Options : common::CameraOptions {
    Options() { size = "1280x720"; }
    std::string listen = "127.0.0.1:8080";
    std::string host;  // from listen
    int port = 0;
    int quality = 80;
    Limits limits;
    std::string authFile;  // empty: no sign-in
    std::string tlsCert, tlsKey;  // PEM files; empty: plain HTTP and RTSP
    std::string rtsp = "127.0.0.1:8554";  // or "off"
    bool rtspOn = true;
    std::string rtspHost;  // from rtsp
    int rtspPort = 0;
    common::H264Options h264;
    std::string webrtc = "on";  // or "off"
    bool webrtcOn = true;
    std::string stun;  // HOST:PORT, or empty
    std::string webrtcPorts;  // MIN-MAX, or empty for any
    int webrtcMinPort = 0, webrtcMaxPort = 0;
    double reopenMaxSeconds = 5;  // the longest wait between tries to reopen a camera that is down
    std::string recordDir;           // empty: no recording
    int recordSegmentSeconds = 60;
    std::string recordMaxAge, recordMaxBytes;  // as given; empty: no limit
    double recordMaxAgeSeconds = 0;
    long long recordMaxBytesValue = 0;
};

// Fills *opt from the command line. Returns the exit code when there is
// nothing to serve: --help, --version, or a bad command line.
std::optional<int> ParseOptions(int argc, char **argv, Options *opt);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_OPTIONS_H
