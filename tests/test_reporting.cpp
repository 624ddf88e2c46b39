// Every report reaches both sinks: one application log record (level,
// function, bare file name, line, message) and then one stdout line. The
// case tables check every format on camera 0; these add camera 1 and
// values those tables do not use.
#include <fcntl.h>
#include <unistd.h>

#include "support.h"

using namespace twincam::test;

namespace {

const Case kCases[] = {
    {"OpenSuccess", {}, Opening(1, 30, 64, 48),
     {0, {"MediaLibInit() = 1", "QueryCameraStatus(1) = 2", "OpenCamera(1) = 1", "SetCameraProperty(1, FrameRate, 30) = 1",
          "SetCameraProperty(1, Resolution, 64x48) = 1", "SetCameraProperty(1, Mode, 1) = 1"},
      {R(Msg::OpenSuccess, 1)}, CameraRecord{true, 1, 30, 64, 48, 4608}, true, 0, 1}},
    {"InvalidId", {}, Opening(-7, 30, 64, 48), {1, {}, {R(Msg::OpenInvalidId, -7)}}},
    {"UnsupportedResolution", {}, Opening(1, 30, 65536, 65536),
     {1, {}, {R(Msg::OpenUnsupported, 1, 65536, 65536)}, {}, false, 0, 1}},
    {"InvalidStatusTwoArguments", [] { ScheduleFaults({{TWINCAM_SIM_OP_STATUS, 1, 7}}); },
     Opening(1, 30, 64, 48),
     {1, {"MediaLibInit() = 1", "QueryCameraStatus(1) = 7"}, {R(Msg::InvalidStatus, 1, 7)}, {}, false, 0, 1}},
    {"MallocRefused",
     [] {
         Open0();
         ASSERT_TRUE(ScheduleFaults({{TWINCAM_SIM_OP_MALLOC, 1, 207001}}));
     },
     Reading(0),
     {1, {"acldvppMalloc(4608) = 207001"}, {R(Msg::MallocFailed, 4608, 207001)}}},
    {"ReadInvalidId", {}, Reading(2), {1, {}, {R(Msg::ReadInvalidId, 2)}}},
    {"ReadNullRecord", {}, ReadingNull(1),
     {1, {}, {R(Msg::ReadNullRecord, 1)}, {}, {}, 0, 1}},
    {"CloseRefused", {}, Closing(1),
     {1, {"CloseCamera(1) = 0"}, {R(Msg::CloseFailed, 1)}, {}, false, 0, 1}},
};
TWINCAM_CASES(Reporting, BothSinksInOrder, kCases);

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
    for (const char *target : {"/dev/full", static_cast<const char *>(nullptr)}) {
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
        CameraFrame frame{};
        const int32_t results[] = {OpenCameraEx(7, 30, 64, 48), OpenCameraEx(0, 30, 64, 48), ReadCameraFrame(0, &frame),
                                   CloseCameraEx(0), CloseCameraEx(0)};
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        std::clearerr(stdout);
        EXPECT_EQ(std::vector<int32_t>(std::begin(results), std::end(results)), (std::vector<int32_t>{1, 0, 0, 0, 1}));
        EXPECT_EQ(Log().size(), 3u) << (target ? target : "closed");
        if (results[2] == 0) {
            EXPECT_EQ(acldvppFree(frame.data), 0);
        }
    }
}

}  // namespace
