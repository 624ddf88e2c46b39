// One file per frame: PNG, JPEG or the NV12 bytes as delivered.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>

#include "frame_sink.h"

namespace twincam::tools {

std::string FrameFileStem(const std::string &dir, const Frame &frame) {
    char name[64];
    std::snprintf(name, sizeof name, "cam%d-%06lld", frame.camera, frame.sequence);
    return (std::filesystem::path(dir) / name).string();
}

namespace {

class FileSink : public FrameSink {
public:
    long files() const override { return files_.load(); }

protected:
    std::string Count(std::string error) {
        if (error.empty()) ++files_;
        return error;
    }

private:
    std::atomic<long> files_{0};
};

class PngFiles : public FileSink {
public:
    PngFiles(std::string dir, int level) : dir_(std::move(dir)), level_(level) {}
    const char *name() const override { return "png"; }
    std::string Write(const Frame &f) override {
        return Count(WritePng(FrameFileStem(dir_, f) + ".png", f.view(), level_));
    }

private:
    std::string dir_;
    int level_;
};

class Nv12Files : public FileSink {
public:
    explicit Nv12Files(std::string dir) : dir_(std::move(dir)) {}
    const char *name() const override { return "nv12"; }
    std::string Write(const Frame &f) override {
        return Count(WriteRaw(FrameFileStem(dir_, f) + ".nv12", f.data, f.size));
    }

private:
    std::string dir_;
};

// One encoder per writer thread.
class JpegFiles : public FileSink {
public:
    JpegFiles(std::string dir, int quality) : dir_(std::move(dir)), quality_(quality) {}
    const char *name() const override { return "jpeg"; }
    std::string Write(const Frame &f) override {
        thread_local JpegEncoder encoder;
        thread_local std::string jpeg;
        if (std::string error = encoder.Encode(f.view(), quality_, &jpeg); !error.empty()) return error;
        return Count(WriteRaw(FrameFileStem(dir_, f) + ".jpg", jpeg.data(), jpeg.size()));
    }

private:
    std::string dir_;
    int quality_;
};

}  // namespace

std::unique_ptr<FrameSink> MakePngFiles(const std::string &dir, int level) {
    return std::make_unique<PngFiles>(dir, level);
}
std::unique_ptr<FrameSink> MakeJpegFiles(const std::string &dir, int quality) {
    return std::make_unique<JpegFiles>(dir, quality);
}
std::unique_ptr<FrameSink> MakeNv12Files(const std::string &dir) { return std::make_unique<Nv12Files>(dir); }

}  // namespace twincam::tools
