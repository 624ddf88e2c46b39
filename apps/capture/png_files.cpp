// One file per frame, or per side-by-side pair: .png: each frame converted to RGB.
#include "file_sink.h"
#include "png_writer.h"

namespace twincam::capture {

std::unique_ptr<FrameSink> MakePngFiles(const std::string &dir, int level, bool sideBySide) {
    return std::make_unique<FileSink>("png", dir, ".png", sideBySide, [level](const Frame &f, const std::string &path) {
        return common::WritePng(path, f.view(), level);
    });
}

}  // namespace twincam::capture
