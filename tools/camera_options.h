// The options of the tools that open cameras: --camera (repeatable), --fps
// and --size, parsed and checked alike in each.
#ifndef TWINCAM_TOOLS_CAMERA_OPTIONS_H
#define TWINCAM_TOOLS_CAMERA_OPTIONS_H

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "size.h"

namespace twincam::tools {

struct CameraOptions {
    std::vector<int> cameras;
    int fps = 30;
    int width = 0, height = 0;
    std::string size;  // as given; width and height once checked
};

// Adds the three options; opt.size holds the default resolution.
inline void AddCameraOptions(CLI::App &app, CameraOptions &opt, const std::string &cameraHelp,
                             const CLI::Validator &fpsCheck = CLI::PositiveNumber) {
    app.add_option("--camera", opt.cameras, cameraHelp)->check(CLI::Range(0, 1));
    app.add_option("--fps", opt.fps, "Frame rate, frames per second")->check(fpsCheck)->capture_default_str();
    app.add_option("--size", opt.size, "Resolution WxH, in pixels")->capture_default_str();
}

// After parsing: the resolution, and the cameras (defaults when none is
// given, each at most once). Returns what is wrong, or "" when nothing is.
inline std::string CheckCameraOptions(CameraOptions &opt, const std::vector<int> &defaults) {
    if (!ParseSize(opt.size, &opt.width, &opt.height)) return "--size: '" + opt.size + "' is not WxH with positive numbers";
    if (opt.cameras.empty()) opt.cameras = defaults;
    if (opt.cameras.size() > 2) return "--camera: at most two cameras, 0 and 1";
    if (opt.cameras.size() == 2 && opt.cameras[0] == opt.cameras[1]) {
        return "--camera: camera " + std::to_string(opt.cameras[0]) + " given twice";
    }
    return "";
}

}  // namespace twincam::tools

#endif  // TWINCAM_TOOLS_CAMERA_OPTIONS_H
