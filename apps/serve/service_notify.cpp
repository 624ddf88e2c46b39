#include "service_notify.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#if TWINCAM_WITH_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace twincam::serve {
namespace {

void Notify(const std::string &state) {
#if TWINCAM_WITH_SYSTEMD
    sd_notify(0, state.c_str());
#else
    (void)state;
#endif
}

// Half the unit's watchdog period, or zero when it has none.
Clock::duration PingEvery() {
#if TWINCAM_WITH_SYSTEMD
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) return std::chrono::microseconds(usec / 2);
#endif
    return Clock::duration::zero();
}

}  // namespace

ServiceNotifier::ServiceNotifier(Channels &channels, Clock::duration stuckLimit, std::function<bool()> answers)
    : channels_(channels), stuckLimit_(stuckLimit), answers_(std::move(answers)) {}

std::string ServiceNotifier::Status() {
    std::string status = "STATUS=";
    for (Channel *channel : channels_.all()) {
        status += (status.back() == '=' ? "" : ", ") + std::string("camera ") + std::to_string(channel->id()) +
                  (channel->up() ? " delivering" : " reconnecting");
    }
    return status;
}

void ServiceNotifier::Ready() {
    if (std::getenv("NOTIFY_SOCKET") == nullptr) return;
    said_ = Status();
    Notify("READY=1\n" + said_);
    ready_ = true;
    // The state once a second (a change shows within one), and the pings.
    const Clock::duration every = PingEvery();
    const Clock::duration tick = every > Clock::duration::zero() ? std::min<Clock::duration>(every, std::chrono::seconds(1))
                                                                 : std::chrono::seconds(1);
    pingAt_ = Clock::now();
    ticker_.Start(tick, [this, every, tick] { Tick(every, tick); });
}

bool ServiceNotifier::Healthy() {
    Clock::duration stuckFor{};
    const int stuck = channels_.Stuck(stuckLimit_, &stuckFor);
    const bool answers = stuck < 0 && answers_();
    if (stuck >= 0 && !saidUnhealthy_) {
        std::fprintf(stderr, "twincam-serve: camera %d has been inside one library call for %.1f s: no more "
                     "watchdog pings, so that the service manager restarts the server\n",
                     stuck, std::chrono::duration<double>(stuckFor).count());
    } else if (stuck < 0 && !answers && !saidUnhealthy_) {
        std::fprintf(stderr, "twincam-serve: the HTTP side does not answer: no watchdog ping\n");
    }
    saidUnhealthy_ = stuck >= 0 || !answers;
    return !saidUnhealthy_;
}

void ServiceNotifier::Tick(Clock::duration every, Clock::duration tick) {
    if (const std::string status = Status(); status != said_) Notify(said_ = status);
    if (every > Clock::duration::zero() && Clock::now() >= pingAt_) {
        if (Healthy()) Notify("WATCHDOG=1");
        pingAt_ = Clock::now() + every - tick / 2;
    }
}

void ServiceNotifier::Stopping() {
    if (std::exchange(stopped_, true)) return;
    ticker_.Stop();
    if (ready_) Notify("STOPPING=1");
}

}  // namespace twincam::serve
