#include "camera_link.h"

namespace twincam::common {

CameraLink::CameraLink(int camera, const Settings &settings, bool keepLatencies)
    : reader_(camera, keepLatencies), settings_(settings), backoff_(settings.reopenMost) {}

bool CameraLink::Open() {
    up_ = reader_.Open(settings_.fps, settings_.width, settings_.height);
    if (!up_) GoDown("opening camera " + std::to_string(camera()) + " failed; the library's report says why");
    return up_;
}

void CameraLink::GoDown(std::string why) {
    up_ = false;
    ++failures_;
    error_ = std::move(why);
    downSince_ = Clock::now();
    downSinceWall_ = WallClock::now();
    backoff_.Reset();
    retryAt_ = downSince_ + backoff_.Next();
}

FramePtr CameraLink::Step(Change *change, long pair) {
    *change = Change::kNone;
    if (up_) {
        FramePtr frame = reader_.Read(pair);
        if (frame != nullptr) return frame;
        // Closed before it is opened again: a device that glitched starts afresh.
        reader_.Close();
        GoDown("reading camera " + std::to_string(camera()) + " failed; the library's report says why");
        *change = Change::kFailed;
        return nullptr;
    }
    if (Clock::now() < retryAt_) return nullptr;
    if (!reader_.Open(settings_.fps, settings_.width, settings_.height)) {
        retryAt_ = Clock::now() + backoff_.Next();
        return nullptr;
    }
    up_ = true;
    ++reopens_;
    downBefore_ += Clock::now() - downSince_;
    reader_.Reopened();
    *change = Change::kBack;
    return nullptr;
}

Clock::duration CameraLink::downTime(Clock::time_point now) const {
    return downBefore_ + (up_ || downSince_ == Clock::time_point{} ? Clock::duration::zero() : now - downSince_);
}

}  // namespace twincam::common
