// One camera kept up for as long as a program runs: read while it
// delivers; on a failed read (or open) closed, then opened again with the
// same rate and size after a wait that doubles from half a second up to a
// limit. The server and the capture tool's --keep-going share it; a step
// never waits for a retry, so one reader can keep several cameras.
#ifndef TWINCAM_APPS_CAMERA_LINK_H
#define TWINCAM_APPS_CAMERA_LINK_H

#include <string>

#include "frame_reader.h"

namespace twincam::common {

// Waits between tries: first, then doubling, never past most.
class Backoff {
public:
    explicit Backoff(Clock::duration most, Clock::duration first = std::chrono::milliseconds(500))
        : first_(std::min(first, most)), most_(most), next_(first_) {}
    Clock::duration Next() {
        const Clock::duration wait = next_;
        next_ = std::min(next_ * 2, most_);
        return wait;
    }
    void Reset() { next_ = first_; }

private:
    Clock::duration first_, most_, next_;
};

class CameraLink {
public:
    struct Settings {
        int fps = 30, width = 0, height = 0;
        Clock::duration reopenMost = std::chrono::seconds(5);
    };
    // What a step did to the camera's state.
    enum class Change { kNone, kFailed, kBack };

    CameraLink(int camera, const Settings &settings, bool keepLatencies);
    int camera() const { return reader_.camera(); }

    // The first open; false when it failed (the camera is then down and
    // tried again by Step).
    bool Open();
    // While up: reads one frame (waiting for it as the camera paces it); a
    // failed read closes the camera and makes it down. While down: tries to
    // open it again if a try is due, else returns at once. The frame, or
    // nullptr; *change says whether the camera just failed or came back.
    // pair: the stereo pair a frame is read for, if any.
    FramePtr Step(Change *change, long pair = -1);
    bool Close() { return reader_.Close(); }

    bool up() const { return up_; }
    // While down: since when, why, and when the next try is due.
    Clock::time_point downSince() const { return downSince_; }
    WallClock::time_point downSinceWall() const { return downSinceWall_; }
    const std::string &error() const { return error_; }
    Clock::time_point retryAt() const { return retryAt_; }
    long failures() const { return failures_; }
    long reopens() const { return reopens_; }
    // Time down so far, over every outage.
    Clock::duration downTime(Clock::time_point now) const;
    const FrameReader &reader() const { return reader_; }
    FrameReader &reader() { return reader_; }

private:
    void GoDown(std::string why);

    FrameReader reader_;
    Settings settings_;
    Backoff backoff_;
    bool up_ = false;
    std::string error_;
    Clock::time_point downSince_{}, retryAt_{};
    WallClock::time_point downSinceWall_{};
    Clock::duration downBefore_{};  // the outages already over
    long failures_ = 0, reopens_ = 0;
};

}  // namespace twincam::common

#endif  // TWINCAM_APPS_CAMERA_LINK_H
