// One file per frame, or per side-by-side pair: .nv12: the frame's bytes as the camera delivered them.
#include "file_sink.h"

namespace twincam::capture {

std::unique_ptr<FrameSink> MakeNv12Files(const std::string &dir, bool sideBySide) {
    return std::make_unique<FileSink>("nv12", dir, ".nv12", sideBySide, [](const Frame &f, const std::string &path) {
        return WriteRaw(path, f.data, f.size);
    });
}

}  // namespace twincam::capture
