// The camera state machine: every operation in every state of a camera, and
// a fault at each platform call the operation makes. Each case checks the
// result, the platform calls, both report sinks, the registry, the camera's
// state on the service and the live dvpp buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

#include "support.h"

using twincam::test::Calls;
using twincam::test::Fault;
using Lines = std::vector<std::string>;

namespace {

enum class State {
    Fresh,      // nothing opened in this process
    Open,       // camera 0 opened at 30 fps, 64x48
    Closed,     // opened, then closed again
    Reopened,   // opened at 64x48, closed, opened again at 32x24
    OtherOpen,  // only camera 1 opened
};

enum class Op { Open, Config, Read, Close, OpenBadId, OpenHuge, ReadBadId, ReadNull };

struct Case {
    const char *name;
    State state;
    Op op;
    std::vector<Fault> faults;
    int32_t result;
    Lines calls;
    Lines out;
    bool fills;      // the operation fills record 0 with the open's values
    bool openAfter;  // camera 0 is open on the service afterwards
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

// Setting up a state makes real calls; its reports are not under test.
void Enter(State state) {
    switch (state) {
        case State::Fresh: return;
        case State::Open: ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0); return;
        case State::Closed:
            ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0);
            ASSERT_EQ(CloseCameraEx(0), 0);
            return;
        case State::Reopened:
            ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0);
            ASSERT_EQ(CloseCameraEx(0), 0);
            ASSERT_EQ(OpenCameraEx(0, 15, 32, 24), 0);
            return;
        case State::OtherOpen: ASSERT_EQ(OpenCameraEx(1, 30, 64, 48), 0); return;
    }
}

const char *const kFps30 = "SetCameraProperty(0, FrameRate, 30) = 1";
const char *const kRes = "SetCameraProperty(0, Resolution, 64x48) = 1";
const char *const kMode = "SetCameraProperty(0, Mode, 1) = 1";
const char *const kInfo = "[INFO]  Open camera 0 success";
const char *const kPropFailed = "[ERROR]  Set camera0 property failed";

const Case kCases[] = {
    // ---- OpenCameraEx(0, 30, 64, 48) ----
    {"Fresh_Open", State::Fresh, Op::Open, {}, 0,
     {"MediaLibInit() = 1", "QueryCameraStatus(0) = 2", "OpenCamera(0) = 1", kFps30, kRes, kMode}, {kInfo}, true, true},
    {"Fresh_Open_InitFails", State::Fresh, Op::Open, {{TWINCAM_SIM_OP_INIT, 1, 0}}, 1,
     {"MediaLibInit() = 0", "QueryCameraStatus(0) = 0"}, {"[ERROR]  Invalid camera0 status 0"}, false, false},
    {"Fresh_Open_StatusInvalid", State::Fresh, Op::Open, {{TWINCAM_SIM_OP_STATUS, 1, 3}}, 1,
     {"MediaLibInit() = 1", "QueryCameraStatus(0) = 3"}, {"[ERROR]  Invalid camera0 status 3"}, false, false},
    {"Fresh_Open_StatusSaysOpenButClosed", State::Fresh, Op::Open, {{TWINCAM_SIM_OP_STATUS, 1, Open}}, 1,
     {"MediaLibInit() = 1", "QueryCameraStatus(0) = 1", "SetCameraProperty(0, FrameRate, 30) = 0", "CloseCamera(0) = 0"},
     {"[ERROR]  Set camera fps failed", kPropFailed}, false, false},
    {"Fresh_Open_OpenFails", State::Fresh, Op::Open, {{TWINCAM_SIM_OP_OPEN, 1, 0}}, 1,
     {"MediaLibInit() = 1", "QueryCameraStatus(0) = 2", "OpenCamera(0) = 0"},
     {"[ERROR]  Camera0 closed, and open failed."}, false, false},
    {"Fresh_Open_FpsFails", State::Fresh, Op::Open, {{TWINCAM_SIM_OP_SETPROP, 1, 0}}, 1,
     {"MediaLibInit() = 1", "QueryCameraStatus(0) = 2", "OpenCamera(0) = 1", "SetCameraProperty(0, FrameRate, 30) = 0",
      "CloseCamera(0) = 1"},
     {"[ERROR]  Set camera fps failed", kPropFailed}, false, false},
    {"Fresh_Open_ResolutionFails", State::Fresh, Op::Open, {{TWINCAM_SIM_OP_SETPROP, 2, 0}}, 1,
     {"MediaLibInit() = 1", "QueryCameraStatus(0) = 2", "OpenCamera(0) = 1", kFps30,
      "SetCameraProperty(0, Resolution, 64x48) = 0", "CloseCamera(0) = 1"},
     {"[ERROR]  Set camera resolution failed", kPropFailed}, false, false},
    {"Fresh_Open_ModeFails", State::Fresh, Op::Open, {{TWINCAM_SIM_OP_SETPROP, 3, 0}}, 1,
     {"MediaLibInit() = 1", "QueryCameraStatus(0) = 2", "OpenCamera(0) = 1", kFps30, kRes,
      "SetCameraProperty(0, Mode, 1) = 0", "CloseCamera(0) = 1"},
     {"[ERROR]  Set camera mode:1 failed", kPropFailed}, false, false},
    {"Fresh_Open_ModeFailsAndCloseFails", State::Fresh, Op::Open,
     {{TWINCAM_SIM_OP_SETPROP, 3, 0}, {TWINCAM_SIM_OP_CLOSE, 1, 0}}, 1,
     {"MediaLibInit() = 1", "QueryCameraStatus(0) = 2", "OpenCamera(0) = 1", kFps30, kRes,
      "SetCameraProperty(0, Mode, 1) = 0", "CloseCamera(0) = 0"},
     {"[ERROR]  Set camera mode:1 failed", kPropFailed}, false, true},
    {"Open_Open", State::Open, Op::Open, {}, 0, {"QueryCameraStatus(0) = 1", kFps30, kRes, kMode}, {kInfo}, false, true},
    {"Open_Open_FpsFailsClosesTheOpenCamera", State::Open, Op::Open, {{TWINCAM_SIM_OP_SETPROP, 1, 0}}, 1,
     {"QueryCameraStatus(0) = 1", "SetCameraProperty(0, FrameRate, 30) = 0", "CloseCamera(0) = 1"},
     {"[ERROR]  Set camera fps failed", kPropFailed}, false, false},
    {"Open_Open_StatusInvalid", State::Open, Op::Open, {{TWINCAM_SIM_OP_STATUS, 1, 0}}, 1,
     {"QueryCameraStatus(0) = 0"}, {"[ERROR]  Invalid camera0 status 0"}, false, true},
    {"Closed_Open", State::Closed, Op::Open, {}, 0,
     {"QueryCameraStatus(0) = 2", "OpenCamera(0) = 1", kFps30, kRes, kMode}, {kInfo}, false, true},
    {"Closed_Open_OpenFails", State::Closed, Op::Open, {{TWINCAM_SIM_OP_OPEN, 1, 0}}, 1,
     {"QueryCameraStatus(0) = 2", "OpenCamera(0) = 0"}, {"[ERROR]  Camera0 closed, and open failed."}, false, false},
    {"Reopened_Open", State::Reopened, Op::Open, {}, 0, {"QueryCameraStatus(0) = 1", kFps30, kRes, kMode}, {kInfo},
     false, true},
    {"OtherOpen_Open", State::OtherOpen, Op::Open, {}, 0,
     {"QueryCameraStatus(0) = 2", "OpenCamera(0) = 1", kFps30, kRes, kMode}, {kInfo}, true, true},
    {"Fresh_OpenBadId", State::Fresh, Op::OpenBadId, {}, 1, {}, {"[ERROR]  Open camera failed for invalid id -1"},
     false, false},
    {"Open_OpenBadId", State::Open, Op::OpenBadId, {}, 1, {}, {"[ERROR]  Open camera failed for invalid id -1"},
     false, true},
    {"Fresh_OpenHugeResolution", State::Fresh, Op::OpenHuge, {}, 1, {},
     {"[ERROR]  Open camera 0 failed for unsupported resolution 32768x32768"}, false, false},
    {"Open_OpenHugeResolution", State::Open, Op::OpenHuge, {}, 1, {},
     {"[ERROR]  Open camera 0 failed for unsupported resolution 32768x32768"}, false, true},

    // ---- ConfigCamera(0, 15, 64, 48) ----
    {"Fresh_Config", State::Fresh, Op::Config, {}, 1, {"SetCameraProperty(0, FrameRate, 15) = 0"},
     {"[ERROR]  Set camera fps failed"}, false, false},
    {"Open_Config", State::Open, Op::Config, {}, 0,
     {"SetCameraProperty(0, FrameRate, 15) = 1", kRes, kMode}, {}, false, true},
    {"Open_Config_FpsFails", State::Open, Op::Config, {{TWINCAM_SIM_OP_SETPROP, 1, 0}}, 1,
     {"SetCameraProperty(0, FrameRate, 15) = 0"}, {"[ERROR]  Set camera fps failed"}, false, true},
    {"Open_Config_ResolutionFails", State::Open, Op::Config, {{TWINCAM_SIM_OP_SETPROP, 2, 0}}, 1,
     {"SetCameraProperty(0, FrameRate, 15) = 1", "SetCameraProperty(0, Resolution, 64x48) = 0"},
     {"[ERROR]  Set camera resolution failed"}, false, true},
    {"Open_Config_ModeFails", State::Open, Op::Config, {{TWINCAM_SIM_OP_SETPROP, 3, 0}}, 1,
     {"SetCameraProperty(0, FrameRate, 15) = 1", kRes, "SetCameraProperty(0, Mode, 1) = 0"},
     {"[ERROR]  Set camera mode:1 failed"}, false, true},
    {"Closed_Config", State::Closed, Op::Config, {}, 1, {"SetCameraProperty(0, FrameRate, 15) = 0"},
     {"[ERROR]  Set camera fps failed"}, false, false},
    {"Reopened_Config", State::Reopened, Op::Config, {}, 0,
     {"SetCameraProperty(0, FrameRate, 15) = 1", kRes, kMode}, {}, false, true},
    {"OtherOpen_Config", State::OtherOpen, Op::Config, {}, 1, {"SetCameraProperty(0, FrameRate, 15) = 0"},
     {"[ERROR]  Set camera fps failed"}, false, false},

    // ---- ReadCameraFrame(0, &frame) ----
    {"Fresh_Read_ZeroFrameSize", State::Fresh, Op::Read, {}, 1, {"acldvppMalloc(0) = 100000"},
     {"[ERROR]  acl malloc dvpp data failed, dataSize 0, error 100000"}, false, false},
    {"Open_Read", State::Open, Op::Read, {}, 0,
     {"acldvppMalloc(4608) = 0 -> #1", "ReadFrameFromCamera(0, #1, 4608) = 1 -> 4608"}, {}, false, true},
    {"Open_Read_MallocFails", State::Open, Op::Read, {{TWINCAM_SIM_OP_MALLOC, 1, 207001}}, 1,
     {"acldvppMalloc(4608) = 207001"}, {"[ERROR]  acl malloc dvpp data failed, dataSize 4608, error 207001"}, false,
     true},
    {"Open_Read_ReadFails", State::Open, Op::Read, {{TWINCAM_SIM_OP_READ, 1, TWINCAM_SIM_READ_FAIL}}, 1,
     {"acldvppMalloc(4608) = 0 -> #1", "ReadFrameFromCamera(0, #1, 4608) = 0 -> 0", "acldvppFree(#1) = 0"},
     {"[ERROR]  Get image from camera 0 failed, size 0"}, false, true},
    {"Open_Read_ShortFrame", State::Open, Op::Read, {{TWINCAM_SIM_OP_READ, 1, TWINCAM_SIM_READ_SHORT}}, 1,
     {"acldvppMalloc(4608) = 0 -> #1", "ReadFrameFromCamera(0, #1, 4608) = 1 -> 4607", "acldvppFree(#1) = 0"},
     {"[ERROR]  Get image from camera 0 failed, size 4607"}, false, true},
    {"Open_Read_LongFrame", State::Open, Op::Read, {{TWINCAM_SIM_OP_READ, 1, TWINCAM_SIM_READ_LONG}}, 1,
     {"acldvppMalloc(4608) = 0 -> #1", "ReadFrameFromCamera(0, #1, 4608) = 1 -> 4609", "acldvppFree(#1) = 0"},
     {"[ERROR]  Get image from camera 0 failed, size 4609"}, false, true},
    {"Closed_Read", State::Closed, Op::Read, {}, 1,
     {"acldvppMalloc(4608) = 0 -> #1", "ReadFrameFromCamera(0, #1, 4608) = 0 -> 0", "acldvppFree(#1) = 0"},
     {"[ERROR]  Get image from camera 0 failed, size 0"}, false, false},
    // The record keeps the first open's frame size; the camera delivers 32x24.
    {"Reopened_Read_FrameSizeOfFirstOpen", State::Reopened, Op::Read, {}, 1,
     {"acldvppMalloc(4608) = 0 -> #1", "ReadFrameFromCamera(0, #1, 4608) = 1 -> 1152", "acldvppFree(#1) = 0"},
     {"[ERROR]  Get image from camera 0 failed, size 1152"}, false, true},
    {"OtherOpen_Read_ZeroFrameSize", State::OtherOpen, Op::Read, {}, 1, {"acldvppMalloc(0) = 100000"},
     {"[ERROR]  acl malloc dvpp data failed, dataSize 0, error 100000"}, false, false},
    {"Open_ReadBadId", State::Open, Op::ReadBadId, {}, 1, {}, {"[ERROR]  Read camera frame failed for invalid id 2"},
     false, true},
    {"Open_ReadNullRecord", State::Open, Op::ReadNull, {}, 1, {},
     {"[ERROR]  Read camera 0 frame failed for null frame record"}, false, true},

    // ---- CloseCameraEx(0) ----
    {"Fresh_Close", State::Fresh, Op::Close, {}, 1, {"CloseCamera(0) = 0"}, {"[ERROR]  Close camera 0 failed"}, false,
     false},
    {"Open_Close", State::Open, Op::Close, {}, 0, {"CloseCamera(0) = 1"}, {}, false, false},
    {"Open_Close_Refused", State::Open, Op::Close, {{TWINCAM_SIM_OP_CLOSE, 1, 0}}, 1, {"CloseCamera(0) = 0"},
     {"[ERROR]  Close camera 0 failed"}, false, true},
    {"Closed_Close", State::Closed, Op::Close, {}, 1, {"CloseCamera(0) = 0"}, {"[ERROR]  Close camera 0 failed"}, false,
     false},
    {"Reopened_Close", State::Reopened, Op::Close, {}, 0, {"CloseCamera(0) = 1"}, {}, false, false},
    {"OtherOpen_Close", State::OtherOpen, Op::Close, {}, 1, {"CloseCamera(0) = 0"}, {"[ERROR]  Close camera 0 failed"},
     false, false},
};

class Lifecycle : public testing::TestWithParam<Case> {};

TEST_P(Lifecycle, EveryCallInEveryState) {
    const Case &c = GetParam();
    Enter(c.state);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(twincam::test::ScheduleFaults(c.faults));
    twincam_sim_camera_info other{};
    twincam_sim_camera(1, &other);
    CameraManager before;
    std::memcpy(&before, &g_CameraMgr, sizeof before);
    twincam_sim_journal_clear();

    void *const sentinel = &before;
    CameraFrame frame = {-1, sentinel};
    const auto [result, out, log] = twincam::test::Observe([&] {
        switch (c.op) {
            case Op::Open: return OpenCameraEx(0, 30, 64, 48);
            case Op::Config: return ConfigCamera(0, 15, 64, 48);
            case Op::Read: return ReadCameraFrame(0, &frame);
            case Op::Close: return CloseCameraEx(0);
            case Op::OpenBadId: return OpenCameraEx(-1, 30, 64, 48);
            case Op::OpenHuge: return OpenCameraEx(0, 30, 32768, 32768);
            case Op::ReadBadId: return ReadCameraFrame(2, &frame);
            case Op::ReadNull: return ReadCameraFrame(0, nullptr);
        }
        return -1;
    });

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(Calls(), c.calls);
    std::string expectedOut;
    for (const std::string &line : c.out) expectedOut += line + "\n";
    EXPECT_EQ(out, expectedOut);
    ASSERT_EQ(log.size(), c.out.size()) << "one log record per stdout line";
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].level, c.out[i].rfind("[ERROR]", 0) == 0 ? 3 : 1);
        EXPECT_NE(c.out[i].find(log[i].message), std::string::npos) << log[i].message;
    }

    // The registry: only a camera's first successful open writes its record.
    const bool opens = c.op == Op::Open;
    EXPECT_EQ(g_CameraMgr.hwInitialized, before.hwInitialized || opens);
    const CameraRecord filled = {true, 0, 30, 64, 48, 4608};
    EXPECT_EQ(g_CameraMgr.cameras[0], c.fills ? filled : before.cameras[0]);
    EXPECT_EQ(g_CameraMgr.cameras[1], before.cameras[1]);

    twincam_sim_camera_info camera{};
    twincam_sim_camera(0, &camera);
    EXPECT_EQ(camera.open, c.openAfter ? 1 : 0);
    twincam_sim_camera_info otherAfter{};
    twincam_sim_camera(1, &otherAfter);
    EXPECT_EQ(otherAfter.open, other.open) << "camera 1 is never touched";

    // A delivered frame is the caller's; on failure the record is untouched
    // and nothing stays allocated.
    if (c.op == Op::Read && result == 0) {
        EXPECT_EQ(frame.size, g_CameraMgr.cameras[0].frameSize);
        EXPECT_NE(frame.data, sentinel);
        EXPECT_EQ(twincam_sim_live_buffers(), 1u);
        EXPECT_EQ(acldvppFree(frame.data), 0);
    } else {
        EXPECT_EQ(frame.size, -1);
        EXPECT_EQ(frame.data, sentinel);
    }
    EXPECT_EQ(twincam_sim_live_buffers(), 0u);
}

INSTANTIATE_TEST_SUITE_P(, Lifecycle, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return info.param.name; });

// A whole session across both cameras: frames are delivered in the buffer
// the allocator handed out, of exactly the recorded size, and survive the
// close for the caller to free.
TEST(LifecycleSession, BothCamerasFramesOutliveTheClose) {
    ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0);
    ASSERT_EQ(OpenCameraEx(1, 60, 32, 24), 0);
    std::vector<CameraFrame> frames;
    for (int i = 0; i < 6; ++i) {
        CameraFrame f{};
        ASSERT_EQ(ReadCameraFrame(i % 2, &f), 0);
        EXPECT_EQ(f.size, i % 2 == 0 ? 4608 : 1152);
        frames.push_back(f);
    }
    EXPECT_EQ(twincam_sim_live_buffers(), 6u);
    EXPECT_EQ(CloseCameraEx(0), 0);
    EXPECT_EQ(CloseCameraEx(1), 0);
    EXPECT_EQ(twincam_sim_live_buffers(), 6u) << "closing frees nothing the caller owns";
    for (const CameraFrame &f : frames) EXPECT_EQ(acldvppFree(f.data), 0);
    EXPECT_EQ(twincam_sim_live_buffers(), 0u);
    EXPECT_EQ(twincam_sim_call_count(TWINCAM_SIM_OP_INIT), 1u);
    const CameraRecord one = {true, 1, 60, 32, 24, 1152};
    EXPECT_EQ(g_CameraMgr.cameras[1], one);
}

}  // namespace
