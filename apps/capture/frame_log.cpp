#include "frame_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace twincam::capture {

FrameLog::~FrameLog() {
    for (auto &[camera, file] : files_) std::fclose(file);
}

FILE *FrameLog::Out(int camera, std::string *error) {
    FILE *&out = files_[camera];
    if (out != nullptr) return out;
    const std::string path = (std::filesystem::path(dir_) / ("cam" + std::to_string(camera) + ".csv")).string();
    out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        files_.erase(camera);
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    // A line at a time: a power cut loses no row already added.
    std::setvbuf(out, nullptr, _IOLBF, 4096);
    std::fputs("sequence,monotonic_ns,wall_time,file,status\n", out);
    return out;
}

namespace {
std::string WriteError(FILE *out, int camera) {
    if (!std::ferror(out)) return "";
    return "cannot write cam" + std::to_string(camera) + ".csv: " + std::strerror(errno);
}
}  // namespace

std::string FrameLog::Add(const common::Frame &frame, const std::string &file, bool written) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string error;
    FILE *out = Out(frame.camera, &error);
    if (out == nullptr) return error;
    std::fprintf(out, "%lld,%lld,%s,%s,%s\n", frame.sequence,
                 static_cast<long long>(common::Nanoseconds(frame.readAt)), common::IsoUtc(frame.wallAt).c_str(),
                 written ? file.c_str() : "", written ? "written" : "dropped");
    return WriteError(out, frame.camera);
}

std::string FrameLog::Mark(int camera, const char *what) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string error;
    FILE *out = Out(camera, &error);
    if (out == nullptr) return error;
    std::fprintf(out, ",%lld,%s,,%s\n", static_cast<long long>(common::Nanoseconds(common::Clock::now())),
                 common::IsoUtc(common::WallClock::now()).c_str(), what);
    return WriteError(out, camera);
}

}  // namespace twincam::capture
