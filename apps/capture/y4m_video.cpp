// One YUV4MPEG2 file per camera: 4:2:0 planar frames in the order they were
// read, the frame rate in the header, so any player or encoder takes it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "frame_sink.h"
#include "nv12.h"

namespace twincam::capture {
namespace {

class Y4mVideo : public FrameSink {
public:
    Y4mVideo(std::string dir, int fps) : dir_(std::move(dir)), fps_(fps) {}
    ~Y4mVideo() override { Finish(); }
    const char *name() const override { return "y4m"; }
    long files() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<long>(cameras_.size());
    }

    std::string Write(const Frame &f) override {
        // The chroma is split before taking a turn, so writers overlap that part.
        thread_local std::vector<uint8_t> u, v;
        common::SplitChroma(f.view(), &u, &v);
        std::unique_lock<std::mutex> lock(mutex_);
        CameraFile &cam = cameras_[f.camera];
        turns_.Await(lock, f);
        std::string error = cam.error;
        if (error.empty()) error = Append(cam, f, u, v);
        if (!error.empty()) cam.error = error;
        turns_.Done(f);
        return error;
    }

    std::string Finish() override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string error;
        for (auto &[id, cam] : cameras_) {
            if (cam.file != nullptr && std::fclose(cam.file) != 0 && error.empty()) {
                error = "cannot write " + cam.path + ": " + std::strerror(errno);
            }
            cam.file = nullptr;
        }
        return error;
    }

private:
    // One camera's video file.
    struct CameraFile {
        FILE *file = nullptr;
        std::string path;
        std::string error;  // once a write failed, the file is not added to
    };

    std::string Append(CameraFile &cam, const Frame &f, const std::vector<uint8_t> &u, const std::vector<uint8_t> &v) {
        if (cam.file == nullptr) {
            cam.path = (std::filesystem::path(dir_) / ("cam" + std::to_string(f.camera) + ".y4m")).string();
            cam.file = std::fopen(cam.path.c_str(), "wb");
            if (cam.file == nullptr) return "cannot create " + cam.path + ": " + std::strerror(errno);
            // NV12 sensors site chroma as MPEG-2 does: left, between the rows.
            std::fprintf(cam.file, "YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C420mpeg2\n", f.width, f.height, fps_);
        }
        const size_t luma = static_cast<size_t>(f.width) * static_cast<size_t>(f.height);
        const bool ok = std::fputs("FRAME\n", cam.file) >= 0 && std::fwrite(f.data, 1, luma, cam.file) == luma &&
                        std::fwrite(u.data(), 1, u.size(), cam.file) == u.size() &&
                        std::fwrite(v.data(), 1, v.size(), cam.file) == v.size();
        if (!ok) return "cannot write " + cam.path + ": " + std::strerror(errno);
        return {};
    }

    std::string dir_;
    int fps_;
    mutable std::mutex mutex_;
    CameraTurns turns_;
    std::map<int, CameraFile> cameras_;
};

}  // namespace

std::unique_ptr<FrameSink> MakeY4mVideo(const std::string &dir, int fps) {
    return std::make_unique<Y4mVideo>(dir, fps);
}

}  // namespace twincam::capture
