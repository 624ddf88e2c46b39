// ConfigCamera: frame rate, resolution and mode, in that order, stopping at
// the first refusal, never touching the registry.
#include <gtest/gtest.h>

#include <cstring>

#include "support.h"

using twincam::test::Calls;
using twincam::test::Line;
using twincam::test::Lines;
using twincam::test::Msg;
using twincam::test::R;
using twincam::test::Sinks;

namespace {

class Config : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0);
        std::memcpy(&before_, &g_CameraMgr, sizeof before_);
        twincam_sim_journal_clear();
    }
    bool RegistryUnchanged() const { return std::memcmp(&before_, &g_CameraMgr, sizeof before_) == 0; }
    twincam_sim_camera_info Camera0() const {
        twincam_sim_camera_info info{};
        twincam_sim_camera(0, &info);
        return info;
    }
    CameraManager before_{};
};

TEST_F(Config, AcceptedInOrderWithoutReport) {
    Sinks sinks;
    EXPECT_EQ(ConfigCamera(0, 15, 320, 240), 0);
    EXPECT_EQ(Calls(), (Lines{"SetCameraProperty(0, FrameRate, 15) = 1",
                              "SetCameraProperty(0, Resolution, 320x240) = 1",
                              "SetCameraProperty(0, Mode, 1) = 1"}));
    EXPECT_EQ(sinks.Stdout(), "");
    EXPECT_TRUE(sinks.Log().empty());
    EXPECT_TRUE(RegistryUnchanged()) << "a reconfigured camera keeps its recorded frame size";
    EXPECT_EQ(Camera0().width, 320);
}

TEST_F(Config, RefusedFrameRateStopsAtOnce) {
    EXPECT_EQ(ConfigCamera(0, 241, 320, 240), 1);
    EXPECT_EQ(Calls(), (Lines{"SetCameraProperty(0, FrameRate, 241) = 0"}));
    EXPECT_EQ(Camera0().width, 64) << "later properties are not attempted";
    EXPECT_TRUE(RegistryUnchanged());
}

TEST_F(Config, RefusedResolutionLeavesFrameRateSet) {
    EXPECT_EQ(ConfigCamera(0, 60, 321, 240), 1);
    EXPECT_EQ(Calls(), (Lines{"SetCameraProperty(0, FrameRate, 60) = 1",
                              "SetCameraProperty(0, Resolution, 321x240) = 0"}));
    EXPECT_EQ(Camera0().fps, 60) << "no rollback";
    EXPECT_EQ(Camera0().width, 64);
    EXPECT_TRUE(RegistryUnchanged());
}

TEST_F(Config, RefusedModeReportsTheModeValue) {
    twincam_sim_fault(TWINCAM_SIM_OP_SETPROP, 6, 0);  // the third call of this configuration
    Sinks sinks;
    EXPECT_EQ(ConfigCamera(0, 60, 320, 240), 1);
    EXPECT_EQ(Calls().size(), 3u);
    EXPECT_EQ(sinks.Stdout(), Line(R(Msg::ModeFailed, 1)));
    EXPECT_EQ(Camera0().width, 320);
}

TEST_F(Config, AnyIdGoesToTheService) {
    Sinks sinks;
    EXPECT_EQ(ConfigCamera(7, 30, 64, 48), 1);
    EXPECT_EQ(ConfigCamera(-1, 30, 64, 48), 1);
    EXPECT_EQ(Calls(), (Lines{"SetCameraProperty(7, FrameRate, 30) = 0",
                              "SetCameraProperty(-1, FrameRate, 30) = 0"}));
    EXPECT_EQ(sinks.Stdout(), Line(R(Msg::FpsFailed)) + Line(R(Msg::FpsFailed)));
}

TEST_F(Config, ClosedCameraRefusesConfiguration) {
    ASSERT_EQ(CloseCameraEx(0), 0);
    EXPECT_EQ(ConfigCamera(0, 30, 64, 48), 1);
    EXPECT_TRUE(RegistryUnchanged());
}

// The registry never moves, whatever the parameters, accepted or not.
TEST_F(Config, RegistryUntouchedForAnyParameters) {
    const int32_t values[][3] = {{1, 2, 2}, {240, 8192, 8192}, {0, 0, 0}, {-5, -64, 48}, {INT32_MAX, INT32_MIN, 1}};
    for (const auto &v : values) {
        ConfigCamera(0, v[0], v[1], v[2]);
        EXPECT_TRUE(RegistryUnchanged()) << v[0] << " " << v[1] << "x" << v[2];
    }
}

}  // namespace
