#include "service_notify.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#if TWINCAM_WITH_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

#include "log.h"

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

ServiceNotifier::ServiceNotifier(Channels &channels, Clock::duration stuckLimit, std::vector<Probe> probes)
    : channels_(channels), stuckLimit_(stuckLimit), probes_(std::move(probes)) {}

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
    const Probe *silent = nullptr;
    for (const Probe &probe : probes_) {
        if (stuck < 0 && silent == nullptr && !probe.answers()) silent = &probe;
    }
    if (stuck >= 0 && !saidUnhealthy_) {
        Log("camera %d has been inside one library call for %.1f s: no more watchdog pings, so that the service "
            "manager restarts the server",
            stuck, std::chrono::duration<double>(stuckFor).count());
    } else if (silent != nullptr && !saidUnhealthy_) {
        Log("%s does not answer on its port: no watchdog ping", silent->name.c_str());
    }
    saidUnhealthy_ = stuck >= 0 || silent != nullptr;
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
