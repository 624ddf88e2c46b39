// A camera as the server reads it: read while it delivers; when it fails,
// closed and opened again until it is back (CameraLink), with a "no signal"
// picture twice a second meanwhile. Each frame, and each going down or
// coming back, is handed to the subscribers on the reader's thread.
#ifndef TWINCAM_SERVE_CAMERA_SOURCE_H
#define TWINCAM_SERVE_CAMERA_SOURCE_H

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "camera_link.h"
#include "stats.h"

namespace twincam::serve {

using common::Clock;

struct SourceFigures {
    bool up = false;  // delivering; false while reconnecting
    long read = 0, failures = 0, reopens = 0;
    long long missed = 0;
    double fps = 0;
    std::string error;  // why it is down
    common::WallClock::time_point downSince{};
};

class CameraSource {
public:
    struct Subscription {
        std::function<void(const common::FramePtr &)> frame;  // frames and "no signal" pictures
        std::function<void(bool up)> state;                   // went down (false) or came back
    };

    CameraSource(int camera, const common::CameraLink::Settings &settings);
    int camera() const { return link_.camera(); }

    // The first open; false when the camera is not there (it is then tried again by Step).
    bool Open();
    // From the reader. While the camera delivers: reads one frame, hands it
    // on and returns now. While it is down: tries to reopen it when a try is
    // due, hands on "no signal" when one is due, and returns when it next
    // wants a step.
    Clock::time_point Step();
    bool Close() { return link_.Close(); }

    // Calls sub's functions until Unsubscribe(returned id) returns; from any thread.
    int Subscribe(Subscription sub);
    void Unsubscribe(int id);

    bool up();
    // How long the reader has been inside one library call for this camera; from any thread.
    Clock::duration StuckFor(Clock::time_point now) const { return link_.reader().InCallFor(now); }
    SourceFigures Figures();

private:
    void Hand(const common::FramePtr &frame);
    void Changed(common::CameraLink::Change change);

    common::CameraLink link_;             // the reader's alone
    Clock::time_point placeholderDue_{};  // the reader's alone
    const int width_, height_;
    // Lock order: subscribersMutex_ (held while subscribers run) before mutex_.
    std::mutex subscribersMutex_;
    std::map<int, Subscription> subscribers_;
    int nextId_ = 0;
    std::mutex mutex_;  // the figures
    SourceFigures figures_;
    common::RateMeter readRate_;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_CAMERA_SOURCE_H
