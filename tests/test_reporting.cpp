// Every report reaches both sinks: one application log record (level,
// function, bare file name, line, message) and then one stdout line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "support.h"

using twincam::test::Capture;
using twincam::test::Line;
using twincam::test::LogLine;
using twincam::test::Msg;
using twincam::test::R;
using twincam::test::Report;
using twincam::test::Sinks;

namespace {

struct Scenario {
    const char *name;
    std::function<void()> setup;  // runs before capture starts
    std::function<void()> act;
    std::vector<Report> reports;
};

// Keeps test names readable in CTest.
void PrintTo(const Scenario &s, std::ostream *os) { *os << s.name; }

void OpenZero() { ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0); }

const Scenario kScenarios[] = {
    {"OpenSuccess", [] {}, [] { OpenCameraEx(1, 30, 64, 48); },
     {R(Msg::OpenSuccess, 1)}},
    {"InvalidId", [] {}, [] { OpenCameraEx(-7, 30, 64, 48); },
     {R(Msg::OpenInvalidId, -7)}},
    {"UnsupportedResolution", [] {}, [] { OpenCameraEx(1, 30, 65536, 65536); },
     {R(Msg::OpenUnsupported, 1, 65536, 65536)}},
    {"OpenRefused", [] { twincam_sim_fault(TWINCAM_SIM_OP_OPEN, 1, 0); }, [] { OpenCameraEx(0, 30, 64, 48); },
     {R(Msg::OpenRefused, 0)}},
    {"InvalidStatusTwoArguments", [] { twincam_sim_fault(TWINCAM_SIM_OP_STATUS, 1, 7); },
     [] { OpenCameraEx(1, 30, 64, 48); }, {R(Msg::InvalidStatus, 1, 7)}},
    {"FpsRefusedInsideOpen", [] {}, [] { OpenCameraEx(0, 0, 64, 48); },
     {R(Msg::FpsFailed), R(Msg::PropertyFailed, 0)}},
    {"ResolutionRefused", OpenZero, [] { ConfigCamera(0, 30, 63, 48); },
     {R(Msg::ResolutionFailed)}},
    {"ModeRefused", [] { OpenZero(); twincam_sim_fault(TWINCAM_SIM_OP_SETPROP, 6, 0); },
     [] { ConfigCamera(0, 30, 64, 48); }, {R(Msg::ModeFailed, 1)}},
    {"MallocRefused", [] { OpenZero(); twincam_sim_fault(TWINCAM_SIM_OP_MALLOC, 1, 207001); },
     [] { CameraFrame f{}; ReadCameraFrame(0, &f); },
     {R(Msg::MallocFailed, 4608, 207001)}},
    {"ShortFrame", [] { OpenZero(); twincam_sim_fault(TWINCAM_SIM_OP_READ, 1, TWINCAM_SIM_READ_SHORT); },
     [] { CameraFrame f{}; ReadCameraFrame(0, &f); },
     {R(Msg::ReadFailed, 0, 4607)}},
    {"ReadInvalidId", [] {}, [] { CameraFrame f{}; ReadCameraFrame(2, &f); },
     {R(Msg::ReadInvalidId, 2)}},
    {"ReadNullRecord", [] {}, [] { ReadCameraFrame(1, nullptr); },
     {R(Msg::ReadNullRecord, 1)}},
    {"CloseRefused", [] {}, [] { CloseCameraEx(1); }, {R(Msg::CloseFailed, 1)}},
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
    twincam::test::ExpectReports(log, out, s.reports);
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
