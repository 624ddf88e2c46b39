// Built where GStreamer's development files were not found.
#include "frame_sink.h"

namespace twincam::capture {

std::unique_ptr<FrameSink> MakeMp4Video(const std::string &, const std::string &, int, int, std::string *error) {
    *error = "this twincam-capture was built without GStreamer: for mp4, install libgstreamer1.0-dev and "
             "libgstreamer-plugins-base1.0-dev and build again";
    return nullptr;
}

}  // namespace twincam::capture
