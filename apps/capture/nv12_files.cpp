// cam<ID>-<SEQ>.nv12: the frame's bytes as the camera delivered them.
#include "file_sink.h"

namespace twincam::capture {
namespace {

class Nv12Files : public FileSink {
public:
    using FileSink::FileSink;
    const char *name() const override { return "nv12"; }
    std::string Write(const Frame &f) override { return Count(WriteRaw(PathOf(f, ".nv12"), f.data, f.size)); }
};

}  // namespace

std::unique_ptr<FrameSink> MakeNv12Files(const std::string &dir) { return std::make_unique<Nv12Files>(dir); }

}  // namespace twincam::capture
