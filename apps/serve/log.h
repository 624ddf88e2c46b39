// The server's log: every line on standard error as "twincam-serve: ...".
// A line that repeats (by its format, or for GLib's and GStreamer's
// messages by their text) is written a few times a minute at most, then
// held back and summed up once a minute, so that a fault that repeats in a
// loop cannot fill a disk through journald.
#ifndef TWINCAM_SERVE_LOG_H
#define TWINCAM_SERVE_LOG_H

#include <chrono>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace twincam::serve {

void Log(const char *format, ...) __attribute__((format(printf, 1, 2)));

// GLib's and GStreamer's warnings and criticals go through the same limit.
void RouteGLibMessages();

// Writes the counts held back for lines whose minute is over (all of them
// when everything is); called about once a second and at exit.
void FlushLog(bool everything = false);

// Lines held back since start.
long LogSuppressed();

// The limit itself, apart from the clock and the output, for its tests.
class LogLimit {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kBurst = 5;  // lines of one kind written in a minute before the rest are held back
    static constexpr Clock::duration kWindow = std::chrono::minutes(1);

    // Whether a line of this kind is written now; false when it is held back.
    bool Admit(const std::string &kind, const std::string &line, Clock::time_point now);
    // For each kind whose minute is over (every kind, with everything) that
    // had lines held back: its last line, and how many; the count starts again.
    std::vector<std::pair<std::string, long>> Flush(Clock::time_point now, bool everything);
    long suppressed() const { return suppressed_; }

private:
    struct Kind {
        Clock::time_point since, seen;  // its minute's start, and its last line
        int written = 0;
        long held = 0;
        std::string last;  // held back
    };
    void Forget(Clock::time_point now);

    std::unordered_map<std::string, Kind> kinds_;
    long suppressed_ = 0;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_LOG_H
