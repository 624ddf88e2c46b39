// The camera state machine: every operation in every state of a camera,
// including states the fault matrix never enters (reopened at another size,
// only the other camera open) and a service that reports a closed camera as
// open. Faults at each platform call are the fault matrix's.
#include "support.h"

using namespace twincam::test;

namespace {

// The states besides Open0 (camera 0 opened at 30 fps, 64x48): opened and
// closed; then opened again at 32x24; only camera 1 open.
void Closed0() {
    Open0();
    ASSERT_EQ(CloseCameraEx(0), 0);
}
void Reopened() {
    Closed0();
    ASSERT_EQ(OpenCameraEx(0, 15, 32, 24), 0);
}
void OtherOpen() { ASSERT_EQ(OpenCameraEx(1, 30, 64, 48), 0); }

const Call kOpen = Opening(0, 30, 64, 48), kConfig = Configuring(0, 15, 64, 48), kRead = Reading(0), kClose = Closing(0);

const std::string kFps30 = "SetCameraProperty(0, FrameRate, 30) = 1", kRes = "SetCameraProperty(0, Resolution, 64x48) = 1",
                  kMode = "SetCameraProperty(0, Mode, 1) = 1", kFps15 = "SetCameraProperty(0, FrameRate, 15) = ";
const auto kInfo = R(Msg::OpenSuccess, 0);
const CameraRecord kFilled = {true, 0, 30, 64, 48, 4608};
const auto kUnsupported = R(Msg::OpenUnsupported, 0, 32768, 32768);
const std::string kAlloc = "acldvppMalloc(4608) = 0 -> #1", kReadCall = "ReadFrameFromCamera(0, #1, 4608) = ";

const Case kCases[] = {
    // OpenCameraEx(0, 30, 64, 48)
    {"Fresh_Open", {}, kOpen,
     {0, {"MediaLibInit() = 1", "QueryCameraStatus(0) = 2", "OpenCamera(0) = 1", kFps30, kRes, kMode}, {kInfo}, kFilled, true}},
    {"Fresh_Open_StatusSaysOpenButClosed", [] { ScheduleFaults({{TWINCAM_SIM_OP_STATUS, 1, Open}}); }, kOpen,
     {1, {"MediaLibInit() = 1", "QueryCameraStatus(0) = 1", "SetCameraProperty(0, FrameRate, 30) = 0", "CloseCamera(0) = 0"},
      {R(Msg::FpsFailed), R(Msg::PropertyFailed, 0)}, {}, false}},
    {"Open_Open", Open0, kOpen, {0, {"QueryCameraStatus(0) = 1", kFps30, kRes, kMode}, {kInfo}, {}, true}},
    {"Closed_Open", Closed0, kOpen, {0, {"QueryCameraStatus(0) = 2", "OpenCamera(0) = 1", kFps30, kRes, kMode}, {kInfo}, {}, true}},
    {"Reopened_Open", Reopened, kOpen, {0, {"QueryCameraStatus(0) = 1", kFps30, kRes, kMode}, {kInfo}, {}, true}},
    {"OtherOpen_Open", OtherOpen, kOpen,
     {0, {"QueryCameraStatus(0) = 2", "OpenCamera(0) = 1", kFps30, kRes, kMode}, {kInfo}, kFilled, true}},
    {"Fresh_OpenBadId", {}, Opening(-1, 30, 64, 48), {1, {}, {R(Msg::OpenInvalidId, -1)}, {}, false}},
    {"Open_OpenBadId", Open0, Opening(-1, 30, 64, 48), {1, {}, {R(Msg::OpenInvalidId, -1)}, {}, true}},
    {"Fresh_OpenHugeResolution", {}, Opening(0, 30, 32768, 32768), {1, {}, {kUnsupported}, {}, false}},
    {"Open_OpenHugeResolution", Open0, Opening(0, 30, 32768, 32768), {1, {}, {kUnsupported}, {}, true}},
    // ConfigCamera(0, 15, 64, 48)
    {"Fresh_Config", {}, kConfig, {1, {kFps15 + "0"}, {R(Msg::FpsFailed)}, {}, false}},
    {"Open_Config", Open0, kConfig, {0, {kFps15 + "1", kRes, kMode}, {}, {}, true}},
    {"Closed_Config", Closed0, kConfig, {1, {kFps15 + "0"}, {R(Msg::FpsFailed)}, {}, false}},
    {"Reopened_Config", Reopened, kConfig, {0, {kFps15 + "1", kRes, kMode}, {}, {}, true}},
    {"OtherOpen_Config", OtherOpen, kConfig, {1, {kFps15 + "0"}, {R(Msg::FpsFailed)}, {}, false}},
    // ReadCameraFrame(0, &frame)
    {"Fresh_Read_ZeroFrameSize", {}, kRead, {1, {"acldvppMalloc(0) = 100000"}, {R(Msg::MallocFailed, 0, 100000)}, {}, false}},
    {"Open_Read", Open0, kRead, {0, {kAlloc, kReadCall + "1 -> 4608"}, {}, {}, true}},
    {"Closed_Read", Closed0, kRead, {1, {kAlloc, kReadCall + "0 -> 0", "acldvppFree(#1) = 0"}, {R(Msg::ReadFailed, 0, 0)}, {}, false}},
    // The record keeps the first open's frame size; the camera delivers 32x24.
    {"Reopened_Read_FrameSizeOfFirstOpen", Reopened, kRead,
     {1, {kAlloc, kReadCall + "1 -> 1152", "acldvppFree(#1) = 0"}, {R(Msg::ReadFailed, 0, 1152)}, {}, true}},
    {"OtherOpen_Read_ZeroFrameSize", OtherOpen, kRead,
     {1, {"acldvppMalloc(0) = 100000"}, {R(Msg::MallocFailed, 0, 100000)}, {}, false}},
    {"Open_ReadBadId", Open0, Reading(2), {1, {}, {R(Msg::ReadInvalidId, 2)}, {}, true}},
    {"Open_ReadNullRecord", Open0, ReadingNull(0),
     {1, {}, {R(Msg::ReadNullRecord, 0)}, {}, true}},
    // CloseCameraEx(0)
    {"Fresh_Close", {}, kClose, {1, {"CloseCamera(0) = 0"}, {R(Msg::CloseFailed, 0)}, {}, false}},
    {"Open_Close", Open0, kClose, {0, {"CloseCamera(0) = 1"}, {}, {}, false}},
    {"Closed_Close", Closed0, kClose, {1, {"CloseCamera(0) = 0"}, {R(Msg::CloseFailed, 0)}, {}, false}},
    {"Reopened_Close", Reopened, kClose, {0, {"CloseCamera(0) = 1"}, {}, {}, false}},
    {"OtherOpen_Close", OtherOpen, kClose, {1, {"CloseCamera(0) = 0"}, {R(Msg::CloseFailed, 0)}, {}, false}},
};
TWINCAM_CASES(Lifecycle, EveryCallInEveryState, kCases);

// A whole session across both cameras: frames are delivered in the buffer
// the allocator handed out, of exactly the recorded size, and survive the
// close for the caller to free.
TEST(LifecycleSession, BothCamerasFramesOutliveTheClose) {
    ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0);
    ASSERT_EQ(OpenCameraEx(1, 60, 32, 24), 0);
    std::vector<CameraFrame> frames(6);
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(ReadCameraFrame(i % 2, &frames[i]), 0);
        EXPECT_EQ(frames[i].size, i % 2 == 0 ? 4608 : 1152);
    }
    EXPECT_EQ(twincam_sim_live_buffers(), 6u);
    EXPECT_EQ(CloseCameraEx(0), 0);
    EXPECT_EQ(CloseCameraEx(1), 0);
    EXPECT_EQ(twincam_sim_live_buffers(), 6u) << "closing frees nothing the caller owns";
    for (const CameraFrame &f : frames) EXPECT_EQ(acldvppFree(f.data), 0);
    EXPECT_EQ(twincam_sim_live_buffers(), 0u);
    EXPECT_EQ(twincam_sim_call_count(TWINCAM_SIM_OP_INIT), 1u);
    EXPECT_EQ(g_CameraMgr.cameras[1], (CameraRecord{true, 1, 60, 32, 24, 1152}));
}

}  // namespace
