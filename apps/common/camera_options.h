// The command line every program shares: --camera (repeatable), --fps and
// --size, held to what the cameras deliver, and one way to parse and to
// refuse a command line.
#ifndef TWINCAM_APPS_CAMERA_OPTIONS_H
#define TWINCAM_APPS_CAMERA_OPTIONS_H

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "run_control.h"
#include "twincam/platform/frame_limits.h"

namespace twincam::common {

struct CameraOptions {
    std::vector<int> cameras;
    int fps = 30;
    int width = 0, height = 0;
    std::string size;  // as given; width and height once checked
};

// "2 to 8192": the sides the cameras deliver.
inline std::string SideRange() {
    return std::to_string(TWINCAM_MIN_SIDE) + " to " + std::to_string(TWINCAM_MAX_SIDE);
}

// Adds the three options; opt.size holds the default resolution.
inline void AddCameraOptions(CLI::App &app, CameraOptions &opt, const std::string &cameraHelp) {
    app.add_option("--camera", opt.cameras, cameraHelp)->check(CLI::Range(0, 1));
    app.add_option("--fps", opt.fps, "Frame rate, frames per second")
        ->check(CLI::Range(int{TWINCAM_MIN_FPS}, int{TWINCAM_MAX_FPS}))
        ->capture_default_str();
    app.add_option("--size", opt.size, "Resolution WxH in pixels, even, " + SideRange() + " a side")
        ->capture_default_str();
}

// --reopen-max, for the programs that reopen a camera that fails: the
// longest wait between tries, in seconds.
inline void AddReopenOption(CLI::App &app, double &seconds) {
    app.add_option("--reopen-max", seconds,
                   "A camera that fails is closed and opened again, first after half a second, then waiting twice "
                   "as long each time up to this many seconds")
        ->check(CLI::Range(0.5, 3600.0))
        ->capture_default_str();
}

inline std::chrono::steady_clock::duration Seconds(double seconds) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

// WIDTHxHEIGHT with nothing after the height; the cameras' limits are
// checked by the caller.
inline bool ParseSize(const std::string &text, int *width, int *height) {
    int w = 0, h = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &extra) != 2) return false;
    *width = w;
    *height = h;
    return true;
}

// After parsing: the resolution, and the cameras (defaults when none is
// given, each at most once). Returns what is wrong, or "" when nothing is.
inline std::string CheckCameraOptions(CameraOptions &opt, const std::vector<int> &defaults) {
    if (!ParseSize(opt.size, &opt.width, &opt.height) || !twincam_frame_size_ok(opt.width, opt.height)) {
        return "--size: '" + opt.size + "' is not WxH with even sides from " + SideRange();
    }
    if (opt.cameras.empty()) opt.cameras = defaults;
    if (opt.cameras.size() > 2) return "--camera: at most two cameras, 0 and 1";
    if (opt.cameras.size() == 2 && opt.cameras[0] == opt.cameras[1]) {
        return "--camera: camera " + std::to_string(opt.cameras[0]) + " given twice";
    }
    return "";
}

// A command line that cannot be run: says why, exits with the usage code.
inline int Usage(const std::string &what) {
    std::fprintf(stderr, "%s\nRun with --help for more information.\n", what.c_str());
    return kExitUsage;
}

// Parses the command line. Returns the exit code when the program has
// nothing more to do (--help, --version, or a bad option: kExitUsage).
inline std::optional<int> ParseCommandLine(CLI::App &app, int argc, char **argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }
    return std::nullopt;
}

}  // namespace twincam::common

#endif  // TWINCAM_APPS_CAMERA_OPTIONS_H
