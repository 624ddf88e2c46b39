// The deadline for a request's head: a connection that has not sent a
// whole request head within the limit of opening, or of its previous
// response ending, is shut down, however slowly it trickles bytes in (the
// idle timeout alone would let a byte every few seconds hold it forever).
#ifndef TWINCAM_SERVE_HEAD_DEADLINES_H
#define TWINCAM_SERVE_HEAD_DEADLINES_H

#include <chrono>
#include <mutex>
#include <unordered_map>

namespace twincam::serve {

class HeadDeadlines {
public:
    using Clock = std::chrono::steady_clock;
    explicit HeadDeadlines(std::chrono::seconds limit) : limit_(limit) {}

    // The server's events, by connection: a head is due from Opened and
    // from Answered, none is while a request is being answered.
    void Opened(const void *connection, int fd, Clock::time_point now);
    void HeadIn(const void *connection);
    void Answered(const void *connection, Clock::time_point now);
    // Must come before the connection's socket is closed.
    void Closed(const void *connection);

    // Shuts down (without closing: the server still owns them) the sockets
    // whose head is overdue at now; returns how many.
    int Expire(Clock::time_point now);

private:
    struct Due {
        int fd;
        bool waiting;
        Clock::time_point by;
    };
    const std::chrono::seconds limit_;
    std::mutex mutex_;
    std::unordered_map<const void *, Due> due_;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_HEAD_DEADLINES_H
