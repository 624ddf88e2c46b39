// What the one-file-per-frame sinks share: the file's name and counting
// the files written.
#ifndef TWINCAM_CAPTURE_FILE_SINK_H
#define TWINCAM_CAPTURE_FILE_SINK_H

#include <atomic>
#include <string>

#include "frame_sink.h"

namespace twincam::capture {

class FileSink : public FrameSink {
public:
    explicit FileSink(std::string dir) : dir_(std::move(dir)) {}
    long files() const override { return files_.load(); }

protected:
    // "<dir>/cam<ID>-<SEQ><extension>".
    std::string PathOf(const Frame &frame, const char *extension) const;
    // Counts the file when error is empty; returns error.
    std::string Count(std::string error);

private:
    std::string dir_;
    std::atomic<long> files_{0};
};

// The bytes as they are; empty on success, otherwise what went wrong.
std::string WriteRaw(const std::string &path, const void *data, size_t size);

}  // namespace twincam::capture

#endif  // TWINCAM_CAPTURE_FILE_SINK_H
