// cam<ID>.csv beside the frames: a row per frame read, with its sequence,
// its capture time on the monotonic clock (ns) and the wall clock (ISO 8601
// UTC), the file it went to (empty where none was written) and whether it
// was written or dropped.
#ifndef TWINCAM_CAPTURE_FRAME_LOG_H
#define TWINCAM_CAPTURE_FRAME_LOG_H

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "frame.h"

namespace twincam::capture {

class FrameLog {
public:
    explicit FrameLog(std::string dir) : dir_(std::move(dir)) {}
    ~FrameLog();
    FrameLog(const FrameLog &) = delete;
    FrameLog &operator=(const FrameLog &) = delete;

    // From any thread; returns what went wrong, or "".
    std::string Add(const common::Frame &frame, const std::string &file, bool written);

private:
    std::string dir_;
    std::mutex mutex_;
    std::map<int, FILE *> files_;
};

// A wall clock time as ISO 8601 UTC with nanoseconds: 2026-12-08T23:40:56.123456789Z.
std::string IsoUtc(common::WallClock::time_point t);

}  // namespace twincam::capture

#endif  // TWINCAM_CAPTURE_FRAME_LOG_H
