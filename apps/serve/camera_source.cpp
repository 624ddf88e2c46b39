#include "camera_source.h"

#include <cstdio>

#include "log.h"
#include "no_signal.h"

namespace twincam::serve {
namespace {
// While a camera is down its viewers get "no signal" this often, so that
// players keep the stream and know why it stands still.
constexpr auto kPlaceholderEvery = std::chrono::milliseconds(500);
}  // namespace

CameraSource::CameraSource(int camera, const common::CameraLink::Settings &settings)
    : link_(camera, settings, false), width_(settings.width), height_(settings.height) {
    figures_.up = true;
}

bool CameraSource::Open() {
    if (link_.Open()) return true;
    Changed(common::CameraLink::Change::kFailed);
    return false;
}

Clock::time_point CameraSource::Step() {
    common::CameraLink::Change change = common::CameraLink::Change::kNone;
    const common::FramePtr frame = link_.Step(&change);
    if (change != common::CameraLink::Change::kNone) Changed(change);
    const Clock::time_point now = Clock::now();
    if (frame != nullptr) {
        Hand(frame);
        return now;
    }
    if (link_.up()) return now;
    if (now >= placeholderDue_) {
        Hand(common::NoSignalFrame(camera(), width_, height_, now - link_.downSince()));
        placeholderDue_ = now + kPlaceholderEvery;
    }
    return std::min(placeholderDue_, link_.retryAt());
}

void CameraSource::Hand(const common::FramePtr &frame) {
    if (!frame->placeholder) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++figures_.read;
        figures_.missed += frame->missed;
        readRate_.Add(frame->readAt);
    }
    std::lock_guard<std::mutex> lock(subscribersMutex_);
    for (auto &[id, sub] : subscribers_) {
        if (sub.frame) sub.frame(frame);
    }
}

// One line in the log for each failure and each return, however many tries lie between.
void CameraSource::Changed(common::CameraLink::Change change) {
    const bool up = change == common::CameraLink::Change::kBack;
    if (!up) {
        Log("camera %d is down (%s); trying to reopen it until it is back", camera(), link_.error().c_str());
    } else {
        const double down = std::chrono::duration<double>(Clock::now() - link_.downSince()).count();
        Log("camera %d is back after %.1f s", camera(), down);
    }
    placeholderDue_ = Clock::now();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        figures_.up = up;
        figures_.error = up ? "" : link_.error();
        figures_.downSince = link_.downSinceWall();
        figures_.failures = link_.failures();
        figures_.reopens = link_.reopens();
    }
    std::lock_guard<std::mutex> lock(subscribersMutex_);
    for (auto &[id, sub] : subscribers_) {
        if (sub.state) sub.state(up);
    }
}

int CameraSource::Subscribe(Subscription sub) {
    std::lock_guard<std::mutex> lock(subscribersMutex_);
    subscribers_.emplace(++nextId_, std::move(sub));
    return nextId_;
}

void CameraSource::Unsubscribe(int id) {
    std::lock_guard<std::mutex> lock(subscribersMutex_);
    subscribers_.erase(id);
}

bool CameraSource::up() {
    std::lock_guard<std::mutex> lock(mutex_);
    return figures_.up;
}

SourceFigures CameraSource::Figures() {
    std::lock_guard<std::mutex> lock(mutex_);
    SourceFigures f = figures_;
    f.fps = readRate_.PerSecond();
    return f;
}

}  // namespace twincam::serve
