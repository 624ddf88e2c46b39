#include "file_sink.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace twincam::capture {

std::string FileSink::FileFor(const Frame &frame) const {
    char name[64];
    if (frame.pair < 0) {
        std::snprintf(name, sizeof name, "cam%d-%06lld", frame.camera, frame.sequence);
    } else if (sideBySide_) {
        std::snprintf(name, sizeof name, "pair-%06ld", frame.pair);
    } else {
        std::snprintf(name, sizeof name, "pair-%06ld-cam%d", frame.pair, frame.camera);
    }
    return name + extension_;
}

std::string FileSink::Write(const Frame &frame) {
    std::string error = write_(frame, (std::filesystem::path(dir_) / FileFor(frame)).string());
    if (error.empty()) ++files_;
    return error;
}

// Side by side, the pair is one frame twice as wide, under the pair's name.
std::string FileSink::WritePair(const FramePtr &first, const FramePtr &second) {
    if (!sideBySide_) return FrameSink::WritePair(first, second);
    const common::Nv12Image joined = common::SideBySide(first->view(), second->view());
    Frame both = *first;
    both.width = joined.width;
    both.height = joined.height;
    both.data = joined.bytes.data();
    both.size = joined.bytes.size();
    return Write(both);
}

std::string WriteRaw(const std::string &path, const void *data, size_t size) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return "cannot create " + path + ": " + std::strerror(errno);
    const bool ok = std::fwrite(data, 1, size, f) == size;
    const int err = errno;
    if (std::fclose(f) != 0 || !ok) return "cannot write " + path + ": " + std::strerror(ok ? errno : err);
    return {};
}

}  // namespace twincam::capture
