// cam<ID>.csv beside the frames: a row per frame read, with its sequence,
// its capture time on the monotonic clock (ns) and the wall clock (ISO 8601
// UTC), the file it went to (empty where none was written) and whether it
// was written or dropped; and, where a camera went down and came back
// (--keep-going), a row with no sequence and the status down or back. Each
// row reaches the file as it is added, so a capture cut short keeps them.
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
    // A row for an event of the camera's, now: "down" or "back".
    std::string Mark(int camera, const char *what);

private:
    // The camera's file, opened with its header on first use; nullptr with *error.
    FILE *Out(int camera, std::string *error);

    std::string dir_;
    std::mutex mutex_;
    std::map<int, FILE *> files_;
};

}  // namespace twincam::capture

#endif  // TWINCAM_CAPTURE_FRAME_LOG_H
