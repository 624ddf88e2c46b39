// ConfigCamera: frame rate, resolution and mode, in that order, stopping at
// the first refusal, never touching the registry.
#include <cstring>

#include "support.h"

using namespace twincam::test;

namespace {

class Config : public testing::Test {
protected:
    void SetUp() override { Open0(); }
};

// The checker holds the registry to what it was: a reconfigured camera
// keeps its recorded frame size.
TEST_F(Config, AcceptedInOrderWithoutReport) {
    const Lines calls = {"SetCameraProperty(0, FrameRate, 15) = 1", "SetCameraProperty(0, Resolution, 320x240) = 1",
                         "SetCameraProperty(0, Mode, 1) = 1"};
    Verify(Configuring(0, 15, 320, 240), {0, calls});
    EXPECT_EQ(CameraInfo(0).width, 320);
}

TEST_F(Config, RefusedFrameRateStopsAtOnce) {
    Verify(Configuring(0, 241, 320, 240), {1, {"SetCameraProperty(0, FrameRate, 241) = 0"}, {R(Msg::FpsFailed)}});
    EXPECT_EQ(CameraInfo(0).width, 64) << "later properties are not attempted";
}

TEST_F(Config, RefusedResolutionLeavesFrameRateSet) {
    const Lines calls = {"SetCameraProperty(0, FrameRate, 60) = 1", "SetCameraProperty(0, Resolution, 321x240) = 0"};
    Verify(Configuring(0, 60, 321, 240), {1, calls, {R(Msg::ResolutionFailed)}});
    EXPECT_EQ(CameraInfo(0).fps, 60) << "no rollback";
    EXPECT_EQ(CameraInfo(0).width, 64);
}

TEST_F(Config, RefusedModeReportsTheModeValue) {
    ASSERT_TRUE(ScheduleFaults({{TWINCAM_SIM_OP_SETPROP, 3, 0}}));  // the third call of this configuration
    const Lines calls = {"SetCameraProperty(0, FrameRate, 60) = 1", "SetCameraProperty(0, Resolution, 320x240) = 1",
                         "SetCameraProperty(0, Mode, 1) = 0"};
    Verify(Configuring(0, 60, 320, 240), {1, calls, {R(Msg::ModeFailed, 1)}});
    EXPECT_EQ(CameraInfo(0).width, 320);
}

// The registry never moves, whatever the parameters, accepted or not.
TEST_F(Config, RegistryUntouchedForAnyParameters) {
    CameraManager before;
    std::memcpy(&before, &g_CameraMgr, sizeof before);
    const int32_t values[][3] = {{1, 2, 2}, {240, 8192, 8192}, {0, 0, 0}, {-5, -64, 48}, {INT32_MAX, INT32_MIN, 1}};
    for (const auto &v : values) {
        ConfigCamera(0, v[0], v[1], v[2]);
        EXPECT_EQ(std::memcmp(&before, &g_CameraMgr, sizeof before), 0) << v[0] << " " << v[1] << "x" << v[2];
    }
}

}  // namespace
