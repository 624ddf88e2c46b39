// The sinks that write one file per frame, cam<ID>-<SEQ><extension> in a
// directory (pair-<N>-cam<ID> within a stereo pair, pair-<N> for a pair side
// by side); each format says only how one frame becomes one file.
#ifndef TWINCAM_CAPTURE_FILE_SINK_H
#define TWINCAM_CAPTURE_FILE_SINK_H

#include <atomic>
#include <functional>
#include <string>

#include "frame_sink.h"

namespace twincam::capture {

class FileSink : public FrameSink {
public:
    // Writes frame to path; returns an empty string, or what went wrong.
    using WriteFile = std::function<std::string(const Frame &frame, const std::string &path)>;

    FileSink(const char *name, std::string dir, std::string extension, bool sideBySide, WriteFile write)
        : name_(name), dir_(std::move(dir)), extension_(std::move(extension)), sideBySide_(sideBySide),
          write_(std::move(write)) {}
    const char *name() const override { return name_; }
    std::string Write(const Frame &frame) override;
    std::string WritePair(const FramePtr &first, const FramePtr &second) override;
    long files() const override { return files_.load(); }
    std::string FileFor(const Frame &frame) const override;

private:
    const char *name_;
    std::string dir_, extension_;
    bool sideBySide_;
    WriteFile write_;
    std::atomic<long> files_{0};
};

// The bytes as they are; empty on success, otherwise what went wrong.
std::string WriteRaw(const std::string &path, const void *data, size_t size);

}  // namespace twincam::capture

#endif  // TWINCAM_CAPTURE_FILE_SINK_H
