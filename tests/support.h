// Helpers shared by the tests: the stand-ins' journal and log as strings,
// and capture of the process's standard streams.
#ifndef TWINCAM_TESTS_SUPPORT_H
#define TWINCAM_TESTS_SUPPORT_H

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "twincam/camera.h"
#include "twincam/platform/acl_runtime.h"
#include "twincam/platform/camera_service.h"
#include "twincam/sim/twincam_sim.h"

namespace twincam::test {

// Every journaled platform call, rendered one per line.
std::vector<std::string> Journal();
// The journal without aclAppLog entries: the calls that do the work.
std::vector<std::string> Calls();

struct LogLine {
    int level;
    std::string func;
    std::string file;
    unsigned line;
    std::string message;
    size_t stdoutBefore;  // bytes on captured stdout when the record arrived
};
std::vector<LogLine> Log();

// Redirects a standard stream (stdout or stderr) into a temporary file for
// the object's lifetime.
class Capture {
public:
    explicit Capture(FILE *stream);
    ~Capture();
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;
    // Everything written so far.
    std::string Text();
    // Bytes written so far, after a flush of the stream.
    size_t Size();

private:
    FILE *stream_;
    int fd_;
    int saved_;
    FILE *file_;
};

// Captures stdout and remembers, at each log record, how much had reached it.
class Sinks {
public:
    Sinks();
    ~Sinks();
    std::string Stdout() { return out_.Text(); }
    std::vector<LogLine> Log();

private:
    static void Hook(const twincam_sim_log_record *record, void *self);
    Capture out_;
    std::vector<size_t> offsets_;
};

// One call's result with what it reported on both sinks.
struct Observed {
    int32_t result;
    std::string out;
    std::vector<LogLine> log;
};
template <typename Call>
Observed Observe(Call &&call) {
    Sinks sinks;
    Observed seen{call(), {}, {}};
    seen.out = sinks.Stdout();
    seen.log = sinks.Log();
    return seen;
}

// A fault aimed at the nth call of op, counted from when it is scheduled.
struct Fault {
    twincam_sim_op op;
    uint32_t nth;
    int32_t value;
};
// False when the stand-in refuses one of them.
bool ScheduleFaults(const std::vector<Fault> &faults);

// What both records hold before the first successful open.
extern const CameraRecord kUnfilled;

}  // namespace twincam::test

// Found by argument-dependent lookup, so gtest can compare and print records.
bool operator==(const CameraRecord &a, const CameraRecord &b);
void PrintTo(const CameraRecord &r, std::ostream *os);

#endif  // TWINCAM_TESTS_SUPPORT_H
