// Every report reaches both sinks: one application log record (level,
// function, bare file name, line, message) and then one stdout line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "support.h"

using twincam::test::Capture;
using twincam::test::LogLine;
using twincam::test::Sinks;

namespace {

struct Expected {
    int level;
    const char *func;
    const char *message;
};

struct Scenario {
    const char *name;
    std::function<void()> setup;  // runs before capture starts
    std::function<void()> act;
    std::vector<Expected> reports;
};

// Keeps test names readable in CTest.
void PrintTo(const Scenario &s, std::ostream *os) { *os << s.name; }

void OpenZero() { ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0); }

const Scenario kScenarios[] = {
    {"OpenSuccess", [] {}, [] { OpenCameraEx(1, 30, 64, 48); },
     {{1, "OpenCameraEx", "Open camera 1 success"}}},
    {"InvalidId", [] {}, [] { OpenCameraEx(-7, 30, 64, 48); },
     {{3, "OpenCameraEx", "Open camera failed for invalid id -7"}}},
    {"UnsupportedResolution", [] {}, [] { OpenCameraEx(1, 30, 65536, 65536); },
     {{3, "OpenCameraEx", "Open camera 1 failed for unsupported resolution 65536x65536"}}},
    {"OpenRefused", [] { twincam_sim_fault(TWINCAM_SIM_OP_OPEN, 1, 0); }, [] { OpenCameraEx(0, 30, 64, 48); },
     {{3, "OpenCameraEx", "Camera0 closed, and open failed."}}},
    {"InvalidStatusTwoArguments", [] { twincam_sim_fault(TWINCAM_SIM_OP_STATUS, 1, 7); },
     [] { OpenCameraEx(1, 30, 64, 48); }, {{3, "OpenCameraEx", "Invalid camera1 status 7"}}},
    {"FpsRefusedInsideOpen", [] {}, [] { OpenCameraEx(0, 0, 64, 48); },
     {{3, "ConfigCamera", "Set camera fps failed"}, {3, "OpenCameraEx", "Set camera0 property failed"}}},
    {"ResolutionRefused", OpenZero, [] { ConfigCamera(0, 30, 63, 48); },
     {{3, "ConfigCamera", "Set camera resolution failed"}}},
    {"ModeRefused", [] { OpenZero(); twincam_sim_fault(TWINCAM_SIM_OP_SETPROP, 6, 0); },
     [] { ConfigCamera(0, 30, 64, 48); }, {{3, "ConfigCamera", "Set camera mode:1 failed"}}},
    {"MallocRefused", [] { OpenZero(); twincam_sim_fault(TWINCAM_SIM_OP_MALLOC, 1, 207001); },
     [] { CameraFrame f{}; ReadCameraFrame(0, &f); },
     {{3, "ReadCameraFrame", "acl malloc dvpp data failed, dataSize 4608, error 207001"}}},
    {"ShortFrame", [] { OpenZero(); twincam_sim_fault(TWINCAM_SIM_OP_READ, 1, TWINCAM_SIM_READ_SHORT); },
     [] { CameraFrame f{}; ReadCameraFrame(0, &f); },
     {{3, "ReadCameraFrame", "Get image from camera 0 failed, size 4607"}}},
    {"ReadInvalidId", [] {}, [] { CameraFrame f{}; ReadCameraFrame(2, &f); },
     {{3, "ReadCameraFrame", "Read camera frame failed for invalid id 2"}}},
    {"ReadNullRecord", [] {}, [] { ReadCameraFrame(1, nullptr); },
     {{3, "ReadCameraFrame", "Read camera 1 frame failed for null frame record"}}},
    {"CloseRefused", [] {}, [] { CloseCameraEx(1); }, {{3, "CloseCameraEx", "Close camera 1 failed"}}},
};

class Reporting : public testing::TestWithParam<Scenario> {};

TEST_P(Reporting, BothSinksInOrder) {
    const Scenario &s = GetParam();
    s.setup();
    if (HasFatalFailure()) return;
    Capture err(stderr);
    std::string out;
    std::vector<LogLine> log;
    {
        Sinks sinks;
        s.act();
        out = sinks.Stdout();
        log = sinks.Log();
    }
    ASSERT_EQ(log.size(), s.reports.size());
    std::string expectedOut;
    for (size_t i = 0; i < log.size(); ++i) {
        const Expected &e = s.reports[i];
        SCOPED_TRACE(e.message);
        EXPECT_EQ(log[i].level, e.level);
        EXPECT_EQ(log[i].func, e.func);
        EXPECT_EQ(log[i].file, "camera.cpp");
        EXPECT_GT(log[i].line, 0u);
        EXPECT_EQ(log[i].message, e.message);
        // The log record comes first: stdout holds only the earlier lines.
        EXPECT_EQ(log[i].stdoutBefore, expectedOut.size());
        expectedOut += std::string(e.level == 3 ? "[ERROR]  " : "[INFO]  ") + e.message + "\n";
    }
    EXPECT_EQ(out, expectedOut);
    EXPECT_EQ(err.Text(), "") << "the library writes nothing to standard error";
}

INSTANTIATE_TEST_SUITE_P(, Reporting, testing::ValuesIn(kScenarios),
                         [](const testing::TestParamInfo<Scenario> &info) { return info.param.name; });

// Each site reports its own line, so a log record leads back to the code.
TEST(ReportingSites, DistinctLinesPerMessage) {
    ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0);
    Sinks sinks;
    ConfigCamera(0, 0, 64, 48);
    ConfigCamera(0, 30, 63, 48);
    OpenCameraEx(5, 30, 64, 48);
    const auto log = sinks.Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_NE(log[0].line, log[1].line);
    EXPECT_NE(log[1].line, log[2].line);
}

// The stand-in echoes records to stderr by its own level filter; stdout
// carries the library's plain lines only.
TEST(ReportingSites, StandInEchoesErrorsToStderrOnly) {
    twincam_sim_set_log_level(ACL_ERROR);
    Capture err(stderr);
    std::string out;
    {
        Sinks sinks;
        OpenCameraEx(3, 30, 64, 48);
        OpenCameraEx(0, 30, 64, 48);
        out = sinks.Stdout();
    }
    EXPECT_EQ(out, "[ERROR]  Open camera failed for invalid id 3\n[INFO]  Open camera 0 success\n");
    const std::string text = err.Text();
    EXPECT_NE(text.find("ERROR camera.cpp:"), std::string::npos) << text;
    EXPECT_NE(text.find("OpenCameraEx: Open camera failed for invalid id 3"), std::string::npos) << text;
    EXPECT_EQ(text.find("success"), std::string::npos) << "info is below the default filter";
}

// A standard output that cannot be written (full, or closed) changes no
// result: reports still reach the log and frames are still delivered.
TEST(ReportingSites, FailingStdoutChangesNoResult) {
    const char *const targets[] = {"/dev/full", nullptr};
    for (const char *target : targets) {
        std::fflush(stdout);
        const int saved = dup(STDOUT_FILENO);
        if (target != nullptr) {
            const int fd = open(target, O_WRONLY);
            ASSERT_GE(fd, 0);
            dup2(fd, STDOUT_FILENO);
            close(fd);
        } else {
            close(STDOUT_FILENO);
        }
        twincam_sim_log_clear();
        const int32_t bad = OpenCameraEx(7, 30, 64, 48);
        const int32_t good = OpenCameraEx(0, 30, 64, 48);
        CameraFrame frame{};
        const int32_t read = ReadCameraFrame(0, &frame);
        const int32_t closed = CloseCameraEx(0);
        const int32_t closedAgain = CloseCameraEx(0);
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        std::clearerr(stdout);
        EXPECT_EQ(bad, 1);
        EXPECT_EQ(good, 0);
        EXPECT_EQ(read, 0);
        EXPECT_EQ(closed, 0);
        EXPECT_EQ(closedAgain, 1);
        EXPECT_EQ(twincam::test::Log().size(), 3u) << (target ? target : "closed");
        if (read == 0) {
            EXPECT_EQ(acldvppFree(frame.data), 0);
        }
    }
}

}  // namespace
