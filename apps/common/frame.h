// A frame on its way from the reader to its consumers: the dvpp buffer the
// library delivered, never copied, freed with acldvppFree when the last
// holder lets go of it, on whatever thread that is.
#ifndef TWINCAM_APPS_FRAME_H
#define TWINCAM_APPS_FRAME_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "nv12.h"
#include "twincam/camera.h"
#include "twincam/platform/acl_runtime.h"

namespace twincam::common {

using Clock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;

// A time point as nanoseconds since its clock's epoch (boot for the
// monotonic clock, 1970 for the wall clock).
template <typename TimePoint>
int64_t Nanoseconds(TimePoint t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// A wall clock time as ISO 8601 UTC with nanoseconds: 2026-12-08T23:40:56.123456789Z.
inline std::string IsoUtc(WallClock::time_point t) {
    const int64_t ns = Nanoseconds(t);
    const std::time_t seconds = static_cast<std::time_t>(ns / 1000000000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[48];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%09lldZ", static_cast<long long>(ns % 1000000000));
    return text;
}

struct Frame {
    int camera = 0;
    long long sequence = 0;  // the stamp's, or the reader's own count
    long long missed = 0;    // frames the camera skipped just before this one
    long index = 0;          // the camera's frames handed on so far, from 0
    long pair = -1;          // the stereo pair it was read for, from 0; -1 outside pairs
    int width = 0, height = 0;
    const uint8_t *data = nullptr;
    size_t size = 0;
    Clock::time_point readAt{};  // when the library handed it over: its capture time
    WallClock::time_point wallAt{};  // the same moment on the wall clock
    bool placeholder = false;  // a "no signal" picture made while the camera is down, not a camera's frame

    Nv12View view() const { return {data, width, height}; }
};

using FramePtr = std::shared_ptr<const Frame>;

// Takes ownership of a delivered buffer.
inline FramePtr AdoptFrame(const CameraFrame &delivered, Frame frame) {
    void *buffer = delivered.data;
    frame.data = static_cast<const uint8_t *>(buffer);
    frame.size = static_cast<size_t>(delivered.size);
    return FramePtr(new Frame(frame), [buffer](const Frame *f) {
        (void)acldvppFree(buffer);
        delete f;
    });
}

}  // namespace twincam::common

#endif  // TWINCAM_APPS_FRAME_H
