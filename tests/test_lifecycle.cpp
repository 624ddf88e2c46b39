// The camera state machine: every operation in every state of a camera,
// including states the fault matrix never enters (reopened at another size,
// only the other camera open) and a service that reports a closed camera as
// open. Faults at each platform call are the fault matrix's. Each case
// checks the result, the platform calls, both report sinks, the registry,
// the cameras on the service and the live dvpp buffers.
#include <gtest/gtest.h>

#include <ostream>

#include "support.h"

using twincam::test::Expected;
using twincam::test::Fault;
using twincam::test::Msg;
using twincam::test::R;
using twincam::test::Report;

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
    Expected expected;
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
const Report kInfo = R(Msg::OpenSuccess, 0);
const Report kPropFailed = R(Msg::PropertyFailed, 0);
const CameraRecord kFilled = {true, 0, 30, 64, 48, 4608};

const Case kCases[] = {
    // ---- OpenCameraEx(0, 30, 64, 48) ----
    {"Fresh_Open", State::Fresh, Op::Open, {},
     {0, {"MediaLibInit() = 1", "QueryCameraStatus(0) = 2", "OpenCamera(0) = 1", kFps30, kRes, kMode}, {kInfo}, kFilled, true}},
    {"Fresh_Open_StatusSaysOpenButClosed", State::Fresh, Op::Open, {{TWINCAM_SIM_OP_STATUS, 1, Open}},
     {1, {"MediaLibInit() = 1", "QueryCameraStatus(0) = 1", "SetCameraProperty(0, FrameRate, 30) = 0", "CloseCamera(0) = 0"}, {R(Msg::FpsFailed), kPropFailed}, {}, false}},
    {"Open_Open", State::Open, Op::Open, {},
     {0, {"QueryCameraStatus(0) = 1", kFps30, kRes, kMode}, {kInfo}, {}, true}},
    {"Closed_Open", State::Closed, Op::Open, {},
     {0, {"QueryCameraStatus(0) = 2", "OpenCamera(0) = 1", kFps30, kRes, kMode}, {kInfo}, {}, true}},
    {"Reopened_Open", State::Reopened, Op::Open, {},
     {0, {"QueryCameraStatus(0) = 1", kFps30, kRes, kMode}, {kInfo}, {}, true}},
    {"OtherOpen_Open", State::OtherOpen, Op::Open, {},
     {0, {"QueryCameraStatus(0) = 2", "OpenCamera(0) = 1", kFps30, kRes, kMode}, {kInfo}, kFilled, true}},
    {"Fresh_OpenBadId", State::Fresh, Op::OpenBadId, {},
     {1, {}, {R(Msg::OpenInvalidId, -1)}, {}, false}},
    {"Open_OpenBadId", State::Open, Op::OpenBadId, {},
     {1, {}, {R(Msg::OpenInvalidId, -1)}, {}, true}},
    {"Fresh_OpenHugeResolution", State::Fresh, Op::OpenHuge, {},
     {1, {}, {R(Msg::OpenUnsupported, 0, 32768, 32768)}, {}, false}},
    {"Open_OpenHugeResolution", State::Open, Op::OpenHuge, {},
     {1, {}, {R(Msg::OpenUnsupported, 0, 32768, 32768)}, {}, true}},
    // ---- ConfigCamera(0, 15, 64, 48) ----
    {"Fresh_Config", State::Fresh, Op::Config, {},
     {1, {"SetCameraProperty(0, FrameRate, 15) = 0"}, {R(Msg::FpsFailed)}, {}, false}},
    {"Open_Config", State::Open, Op::Config, {},
     {0, {"SetCameraProperty(0, FrameRate, 15) = 1", kRes, kMode}, {}, {}, true}},
    {"Closed_Config", State::Closed, Op::Config, {},
     {1, {"SetCameraProperty(0, FrameRate, 15) = 0"}, {R(Msg::FpsFailed)}, {}, false}},
    {"Reopened_Config", State::Reopened, Op::Config, {},
     {0, {"SetCameraProperty(0, FrameRate, 15) = 1", kRes, kMode}, {}, {}, true}},
    {"OtherOpen_Config", State::OtherOpen, Op::Config, {},
     {1, {"SetCameraProperty(0, FrameRate, 15) = 0"}, {R(Msg::FpsFailed)}, {}, false}},
    // ---- ReadCameraFrame(0, &frame) ----
    {"Fresh_Read_ZeroFrameSize", State::Fresh, Op::Read, {},
     {1, {"acldvppMalloc(0) = 100000"}, {R(Msg::MallocFailed, 0, 100000)}, {}, false}},
    {"Open_Read", State::Open, Op::Read, {},
     {0, {"acldvppMalloc(4608) = 0 -> #1", "ReadFrameFromCamera(0, #1, 4608) = 1 -> 4608"}, {}, {}, true}},
    {"Closed_Read", State::Closed, Op::Read, {},
     {1, {"acldvppMalloc(4608) = 0 -> #1", "ReadFrameFromCamera(0, #1, 4608) = 0 -> 0", "acldvppFree(#1) = 0"}, {R(Msg::ReadFailed, 0, 0)}, {}, false}},
    // The record keeps the first open's frame size; the camera delivers 32x24.
    {"Reopened_Read_FrameSizeOfFirstOpen", State::Reopened, Op::Read, {},
     {1, {"acldvppMalloc(4608) = 0 -> #1", "ReadFrameFromCamera(0, #1, 4608) = 1 -> 1152", "acldvppFree(#1) = 0"}, {R(Msg::ReadFailed, 0, 1152)}, {}, true}},
    {"OtherOpen_Read_ZeroFrameSize", State::OtherOpen, Op::Read, {},
     {1, {"acldvppMalloc(0) = 100000"}, {R(Msg::MallocFailed, 0, 100000)}, {}, false}},
    {"Open_ReadBadId", State::Open, Op::ReadBadId, {},
     {1, {}, {R(Msg::ReadInvalidId, 2)}, {}, true}},
    {"Open_ReadNullRecord", State::Open, Op::ReadNull, {},
     {1, {}, {R(Msg::ReadNullRecord, 0)}, {}, true}},
    // ---- CloseCameraEx(0) ----
    {"Fresh_Close", State::Fresh, Op::Close, {},
     {1, {"CloseCamera(0) = 0"}, {R(Msg::CloseFailed, 0)}, {}, false}},
    {"Open_Close", State::Open, Op::Close, {},
     {0, {"CloseCamera(0) = 1"}, {}, {}, false}},
    {"Closed_Close", State::Closed, Op::Close, {},
     {1, {"CloseCamera(0) = 0"}, {R(Msg::CloseFailed, 0)}, {}, false}},
    {"Reopened_Close", State::Reopened, Op::Close, {},
     {0, {"CloseCamera(0) = 1"}, {}, {}, false}},
    {"OtherOpen_Close", State::OtherOpen, Op::Close, {},
     {1, {"CloseCamera(0) = 0"}, {R(Msg::CloseFailed, 0)}, {}, false}},
};
class Lifecycle : public testing::TestWithParam<Case> {};

TEST_P(Lifecycle, EveryCallInEveryState) {
    const Case &c = GetParam();
    Enter(c.state);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(twincam::test::ScheduleFaults(c.faults));
    twincam::test::Verify(
        [&](CameraFrame *frame) {
            switch (c.op) {
                case Op::Open: return OpenCameraEx(0, 30, 64, 48);
                case Op::Config: return ConfigCamera(0, 15, 64, 48);
                case Op::Read: return ReadCameraFrame(0, frame);
                case Op::Close: return CloseCameraEx(0);
                case Op::OpenBadId: return OpenCameraEx(-1, 30, 64, 48);
                case Op::OpenHuge: return OpenCameraEx(0, 30, 32768, 32768);
                case Op::ReadBadId: return ReadCameraFrame(2, frame);
                case Op::ReadNull: return ReadCameraFrame(0, nullptr);
            }
            return -1;
        },
        c.expected);
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
