#include "health_probe.h"

#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

namespace twincam::serve {
namespace {

// The local port of the probe under way, 0 when none is.
std::atomic<int> g_probePort{0};

int PortOf(const sockaddr *addr) {
    if (addr->sa_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in *>(addr)->sin_port);
    if (addr->sa_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6 *>(addr)->sin6_port);
    return -1;
}

// A socket bound to a port of its own, known before it connects.
int BoundSocket(const addrinfo *to, int *port) {
    const int fd = socket(to->ai_family, to->ai_socktype | SOCK_CLOEXEC, to->ai_protocol);
    if (fd < 0) return -1;
    sockaddr_storage local{};
    local.ss_family = static_cast<sa_family_t>(to->ai_family);
    socklen_t size = to->ai_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (bind(fd, reinterpret_cast<sockaddr *>(&local), size) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size) != 0) {
        close(fd);
        return -1;
    }
    *port = PortOf(reinterpret_cast<sockaddr *>(&local));
    return fd;
}

}  // namespace

bool Answers(const Probe &probe, std::chrono::milliseconds timeout) {
    const std::string host = probe.host == "0.0.0.0" || probe.host.empty() ? "127.0.0.1"
                             : probe.host == "::"                          ? "::1"
                                                                           : probe.host;
    addrinfo hints{}, *found = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    if (getaddrinfo(host.c_str(), std::to_string(probe.port).c_str(), &hints, &found) != 0) return false;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, freeaddrinfo);
    int port = 0;
    const int fd = BoundSocket(found, &port);
    if (fd < 0) return false;
    timeval tv{static_cast<time_t>(timeout.count() / 1000), static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    g_probePort.store(port);
    char reply[16] = {};
    const bool sent = connect(fd, found->ai_addr, found->ai_addrlen) == 0 &&
                      send(fd, probe.request.data(), probe.request.size(), MSG_NOSIGNAL) ==
                          static_cast<ssize_t>(probe.request.size());
    const ssize_t got = sent ? recv(fd, reply, std::min(sizeof reply - 1, probe.answer.size()), MSG_WAITALL) : -1;
    const bool answered = probe.tls ? sent && (got >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                                    : got == static_cast<ssize_t>(probe.answer.size()) &&
                                          std::memcmp(reply, probe.answer.data(), probe.answer.size()) == 0;
    g_probePort.store(0);
    close(fd);
    return answered;
}

bool IsProbe(const sockaddr *peer) {
    const int port = g_probePort.load();
    return port != 0 && PortOf(peer) == port;
}

}  // namespace twincam::serve
