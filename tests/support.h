// Helpers shared by the tests: the stand-ins' journal and log as strings,
// capture of the process's standard streams, and the one checker of what a
// library call did.
#ifndef TWINCAM_TESTS_SUPPORT_H
#define TWINCAM_TESTS_SUPPORT_H

#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "messages.h"
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

using Lines = std::vector<std::string>;

// Each report exactly: its log record (level, function, camera.cpp and a
// line, message) first, then its line on stdout, and nothing else on either.
void ExpectReports(const std::vector<LogLine> &log, const std::string &out, const std::vector<Report> &reports);

// What one library call must have done.
struct Expected {
    int32_t result = 0;
    Lines calls;                          // platform calls, aclAppLog left out
    std::vector<Report> reports;
    std::optional<CameraRecord> record0;  // camera 0's record afterwards; unchanged when empty
    std::optional<bool> open0;            // camera 0 open on the service afterwards; unchecked when empty
    size_t live = 0;                      // buffers live afterwards, once a delivered frame is freed
};

// Runs call(&frame) under both sinks, from the state at the moment, and
// checks the result, the calls, the reports, the registry (hwInitialized
// set only by a call to MediaLibInit, record 1 never touched), the cameras
// on the service (camera 1 never touched) and the frame record: a delivered
// frame has the recorded size and is freed; otherwise the record is as it
// was. Returns the result.
int32_t Verify(const std::function<int32_t(CameraFrame *)> &call, const Expected &expected);

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
