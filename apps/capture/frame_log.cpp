#include "frame_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace twincam::capture {

std::string IsoUtc(common::WallClock::time_point t) {
    const int64_t ns = common::Nanoseconds(t);
    const std::time_t seconds = static_cast<std::time_t>(ns / 1000000000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[48];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%09lldZ", static_cast<long long>(ns % 1000000000));
    return text;
}

FrameLog::~FrameLog() {
    for (auto &[camera, file] : files_) std::fclose(file);
}

std::string FrameLog::Add(const common::Frame &frame, const std::string &file, bool written) {
    std::lock_guard<std::mutex> lock(mutex_);
    FILE *&out = files_[frame.camera];
    if (out == nullptr) {
        const std::string path = (std::filesystem::path(dir_) / ("cam" + std::to_string(frame.camera) + ".csv")).string();
        out = std::fopen(path.c_str(), "w");
        if (out == nullptr) {
            files_.erase(frame.camera);
            return "cannot create " + path + ": " + std::strerror(errno);
        }
        std::fputs("sequence,monotonic_ns,wall_time,file,status\n", out);
    }
    std::fprintf(out, "%lld,%lld,%s,%s,%s\n", frame.sequence,
                 static_cast<long long>(common::Nanoseconds(frame.readAt)), IsoUtc(frame.wallAt).c_str(),
                 written ? file.c_str() : "", written ? "written" : "dropped");
    return std::ferror(out) ? "cannot write cam" + std::to_string(frame.camera) + ".csv" : "";
}

}  // namespace twincam::capture
