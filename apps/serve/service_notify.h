// What systemd is told of the server through its notification socket:
// ready once it listens, each camera's state, a watchdog ping at half the
// unit's WatchdogSec while it is healthy, and that it is stopping. Healthy:
// every front end probed (HTTP, RTSP) answers on its port, and no camera's
// reader has been inside one call into the library past the stuck limit (a
// wedged driver or a front end that stopped working stops the pings, and
// systemd restarts the process). Without NOTIFY_SOCKET nothing runs.
#ifndef TWINCAM_SERVE_SERVICE_NOTIFY_H
#define TWINCAM_SERVE_SERVICE_NOTIFY_H

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "channels.h"
#include "ticker.h"

namespace twincam::serve {

class ServiceNotifier {
public:
    // A front end's name, and whether it answers a request on its port now.
    struct Probe {
        std::string name;
        std::function<bool()> answers;
    };
    ServiceNotifier(Channels &channels, Clock::duration stuckLimit, std::vector<Probe> probes);
    ~ServiceNotifier() { Stopping(); }
    ServiceNotifier(const ServiceNotifier &) = delete;
    ServiceNotifier &operator=(const ServiceNotifier &) = delete;

    // READY=1 and the cameras' state; then pings and state changes until Stopping.
    void Ready();
    void Stopping();

private:
    void Tick(Clock::duration every, Clock::duration tick);
    bool Healthy();
    std::string Status();

    Channels &channels_;
    const Clock::duration stuckLimit_;
    const std::vector<Probe> probes_;
    bool saidUnhealthy_ = false;  // the ticker's alone, as are the two below
    std::string said_;
    Clock::time_point pingAt_{};
    bool ready_ = false, stopped_ = false;
    common::Ticker ticker_;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_SERVICE_NOTIFY_H
