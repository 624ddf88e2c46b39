// cam<ID>-<SEQ>.jpg, with one encoder per writer thread.
#include "file_sink.h"
#include "jpeg_encoder.h"

namespace twincam::capture {
namespace {

class JpegFiles : public FileSink {
public:
    JpegFiles(std::string dir, int quality) : FileSink(std::move(dir)), quality_(quality) {}
    const char *name() const override { return "jpeg"; }
    std::string Write(const Frame &f) override {
        thread_local common::JpegEncoder encoder;
        thread_local std::string jpeg;
        if (std::string error = encoder.Encode(f.view(), quality_, &jpeg); !error.empty()) return error;
        return Count(WriteRaw(PathOf(f, ".jpg"), jpeg.data(), jpeg.size()));
    }

private:
    int quality_;
};

}  // namespace

std::unique_ptr<FrameSink> MakeJpegFiles(const std::string &dir, int quality) {
    return std::make_unique<JpegFiles>(dir, quality);
}

}  // namespace twincam::capture
