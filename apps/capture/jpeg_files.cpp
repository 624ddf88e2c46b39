// One file per frame, or per side-by-side pair: .jpg, with one encoder per writer thread.
#include "file_sink.h"
#include "jpeg_encoder.h"

namespace twincam::capture {

std::unique_ptr<FrameSink> MakeJpegFiles(const std::string &dir, int quality, bool sideBySide) {
    return std::make_unique<FileSink>("jpeg", dir, ".jpg", sideBySide, [quality](const Frame &f, const std::string &path) {
        thread_local common::JpegEncoder encoder;
        thread_local std::string jpeg;
        if (std::string error = encoder.Encode(f.view(), quality, &jpeg); !error.empty()) return error;
        return WriteRaw(path, jpeg.data(), jpeg.size());
    });
}

}  // namespace twincam::capture
