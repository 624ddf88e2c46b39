#include "file_sink.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace twincam::capture {

std::string FileSink::PathOf(const Frame &frame, const char *extension) const {
    char name[64];
    std::snprintf(name, sizeof name, "cam%d-%06lld%s", frame.camera, frame.sequence, extension);
    return (std::filesystem::path(dir_) / name).string();
}

std::string FileSink::Count(std::string error) {
    if (error.empty()) ++files_;
    return error;
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
