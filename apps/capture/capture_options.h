// twincam-capture's command line.
#ifndef TWINCAM_CAPTURE_OPTIONS_H
#define TWINCAM_CAPTURE_OPTIONS_H

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "camera_options.h"
#include "h264_options.h"

namespace twincam::capture {

struct Options : common::CameraOptions {
    Options() { size = "640x480"; }
    int frames = 10;  // per camera; 0 until stopped
    std::string output = "captures";
    std::vector<std::string> formats = {"png"};  // each once, "both" spelled out
    int quality = 90;
    int pngLevel = 1;
    std::string sheet;
    size_t queue = 8;
    int writers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    int slowWriterMs = 0;
    bool quiet = false;
    bool pair = false;        // both cameras, matched frames only
    bool sideBySide = false;  // a pair in one picture
    double maxSkewMs = 0;     // 0: half a frame period
    common::H264Options h264;
    int segmentSeconds = 0;  // 0: one MP4 per camera
    bool keepGoing = false;  // reopen a camera that fails rather than end
    double reopenMaxSeconds = 5;
};

// Fills *opt from the command line. Returns the exit code when there is
// nothing to capture: --help, --version, or a bad command line.
std::optional<int> ParseOptions(int argc, char **argv, Options *opt);

}  // namespace twincam::capture

#endif  // TWINCAM_CAPTURE_OPTIONS_H
