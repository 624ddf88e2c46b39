#include "head_deadlines.h"

#include <sys/socket.h>

namespace twincam::serve {

void HeadDeadlines::Opened(const void *connection, int fd, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    due_[connection] = Due{fd, true, now + limit_};
}

void HeadDeadlines::HeadIn(const void *connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = due_.find(connection); it != due_.end()) it->second.waiting = false;
}

void HeadDeadlines::Answered(const void *connection, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = due_.find(connection); it != due_.end()) it->second = Due{it->second.fd, true, now + limit_};
}

void HeadDeadlines::Closed(const void *connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    due_.erase(connection);
}

int HeadDeadlines::Expire(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    int expired = 0;
    for (auto &[connection, due] : due_) {
        if (!due.waiting || now < due.by) continue;
        // Held under the lock that Closed takes: the fd is still this connection's.
        shutdown(due.fd, SHUT_RDWR);
        due.waiting = false;
        ++expired;
    }
    return expired;
}

}  // namespace twincam::serve
