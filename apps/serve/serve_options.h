// twincam-serve's command line.
#ifndef TWINCAM_SERVE_OPTIONS_H
#define TWINCAM_SERVE_OPTIONS_H

#include <optional>
#include <string>

#include "camera_options.h"

namespace twincam::serve {

struct Options : common::CameraOptions {
    Options() { size = "1280x720"; }
    std::string listen = "127.0.0.1:8080";
    std::string host;  // from listen
    int port = 0;
    int quality = 80;
    int maxClients = 16;
};

// Fills *opt from the command line. Returns the exit code when there is
// nothing to serve: --help, --version, or a bad command line.
std::optional<int> ParseOptions(int argc, char **argv, Options *opt);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_OPTIONS_H
