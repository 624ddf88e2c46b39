// Stand-ins built without FFmpeg's libraries: the cameras show the pattern
// only, and a source is refused with what to install.
#include "scene.h"

namespace twincam::sim {

std::shared_ptr<Footage> OpenFootage(int32_t, const std::string &, bool, std::string *why) {
    *why = "these stand-ins were built without FFmpeg's libraries; install libavformat-dev, libavcodec-dev and "
           "libswscale-dev and rebuild to play footage";
    return nullptr;
}

}  // namespace twincam::sim
