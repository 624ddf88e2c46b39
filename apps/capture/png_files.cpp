// cam<ID>-<SEQ>.png: each frame converted to RGB.
#include "file_sink.h"
#include "png_writer.h"

namespace twincam::capture {
namespace {

class PngFiles : public FileSink {
public:
    PngFiles(std::string dir, int level) : FileSink(std::move(dir)), level_(level) {}
    const char *name() const override { return "png"; }
    std::string Write(const Frame &f) override { return Count(common::WritePng(PathOf(f, ".png"), f.view(), level_)); }

private:
    int level_;
};

}  // namespace

std::unique_ptr<FrameSink> MakePngFiles(const std::string &dir, int level) {
    return std::make_unique<PngFiles>(dir, level);
}

}  // namespace twincam::capture
