// Helpers shared by the tests: the stand-ins' journal and log, capture of
// the process's standard streams, and the one checker of what a library
// call did, with the case tables that drive it.
#ifndef TWINCAM_TESTS_SUPPORT_H
#define TWINCAM_TESTS_SUPPORT_H

#include <gtest/gtest.h>

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

using Lines = std::vector<std::string>;

// Every journaled platform call, one per line, and those without aclAppLog
// entries: the calls that do the work.
Lines Journal();
Lines Calls();

struct LogLine {
    int level;
    std::string func, file;
    unsigned line;
    std::string message;
    size_t stdoutBefore;  // bytes on captured stdout when the record arrived
};
std::vector<LogLine> Log();

// Camera 0 or 1 as the service holds it.
twincam_sim_camera_info CameraInfo(int32_t id);

// Redirects a standard stream (stdout or stderr) into a temporary file for
// the object's lifetime.
class Capture {
public:
    explicit Capture(FILE *stream);
    ~Capture();
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;
    std::string Text();  // everything written so far
    size_t Size();       // bytes written so far, after a flush of the stream

private:
    FILE *stream_;
    int fd_, saved_;
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

// Each report exactly: its log record (level, function, camera.cpp and a
// line, message) first, then its line on stdout, and nothing else on either.
void ExpectReports(const std::vector<LogLine> &log, const std::string &out, const std::vector<Report> &reports);

using Call = std::function<int32_t(CameraFrame *)>;

// What one library call must have done to the camera under test.
struct Expected {
    int32_t result = 0;
    Lines calls = {};  // platform calls, aclAppLog left out
    std::vector<Report> reports = {};
    std::optional<CameraRecord> record = {};  // its record afterwards; unchanged when empty
    std::optional<bool> open = {};       // open on the service afterwards; unchecked when empty
    size_t live = 0;                     // buffers live afterwards, once a delivered frame is freed
    int32_t camera = 0;
};

// Runs call(&frame) under both sinks, from the state at the moment, and
// checks the result, the calls, the reports, that nothing reached stderr,
// the registry (hwInitialized set only by a call to MediaLibInit, the other
// camera's record never touched), the cameras on the service (the other
// one never touched) and the frame record: a delivered frame has the
// recorded size and is freed; otherwise the record is as it was.
int32_t Verify(const Call &call, const Expected &expected);

// The library's operations as calls for the checker; a read goes into the
// checker's frame record, or a null one.
Call Opening(int32_t id, int32_t fps, int32_t width, int32_t height);
Call Configuring(int32_t id, int32_t fps, int32_t width, int32_t height);
Call Reading(int32_t id);
Call ReadingNull(int32_t id);
Call Closing(int32_t id);

// Setup most cases start from: camera 0 opened at 30 fps, 64x48.
void Open0();

// One row of a case table: unobserved setup (opens, faults), then the call.
struct Case {
    std::string name;
    std::function<void()> setup;
    Call call;
    Expected expected;
};
void PrintTo(const Case &c, std::ostream *os);
void Run(const Case &c);
std::string CaseName(const testing::TestParamInfo<Case> &info);

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

// One test per row of a case table.
#define TWINCAM_CASES(Suite, Test, cases)                                      \
    class Suite : public testing::TestWithParam<twincam::test::Case> {};      \
    TEST_P(Suite, Test) { twincam::test::Run(GetParam()); }                   \
    INSTANTIATE_TEST_SUITE_P(, Suite, testing::ValuesIn(cases), twincam::test::CaseName)

// Found by argument-dependent lookup, so gtest can compare and print records.
bool operator==(const CameraRecord &a, const CameraRecord &b);
void PrintTo(const CameraRecord &r, std::ostream *os);

#endif  // TWINCAM_TESTS_SUPPORT_H
