// The watchdog's probes of the server's own ports: a request on a fresh
// connection, answered within a timeout. The servers let a probe's
// connection past their per-address and total limits, so that a flood from
// the probe's own address cannot stop the pings.
#ifndef TWINCAM_SERVE_HEALTH_PROBE_H
#define TWINCAM_SERVE_HEALTH_PROBE_H

#include <sys/socket.h>

#include <chrono>
#include <string>
#include <string_view>

namespace twincam::serve {

struct Probe {
    std::string host;  // as listened on; a wildcard is asked on loopback
    int port = 0;
    std::string_view request;  // sent as it is
    std::string_view answer;   // what the reply begins with
    bool tls = false;          // then the plain request need only be refused at once
};

// Whether the probe gets its answer within timeout. Over TLS the plain
// request is refused (an alert, or the connection closed): the server's
// loop ran; a loop that hangs lets the wait run out.
bool Answers(const Probe &probe, std::chrono::milliseconds timeout);

// Whether a connection from peer is a probe's, made now.
bool IsProbe(const sockaddr *peer);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_HEALTH_PROBE_H
