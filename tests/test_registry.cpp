// The registry: its initial values, the one-time service initialisation and
// the records CameraInit writes.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "support.h"

using twincam::test::Calls;
using twincam::test::kUnfilled;

namespace {

TEST(Registry, StartsUnfilledAndUninitialised) {
    EXPECT_FALSE(g_CameraMgr.hwInitialized);
    EXPECT_EQ(g_CameraMgr.cameras[0], kUnfilled);
    EXPECT_EQ(g_CameraMgr.cameras[1], kUnfilled);
    EXPECT_EQ(g_CameraMgr.cameras[0].id, 255);
}

TEST(Registry, HwInitInitialisesTheServiceOnce) {
    HwInit();
    HwInit();
    EXPECT_TRUE(g_CameraMgr.hwInitialized);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"MediaLibInit() = 1"}));
}

TEST(Registry, FailedInitialisationIsNeverRetried) {
    twincam_sim_fault(TWINCAM_SIM_OP_INIT, 1, 0);
    HwInit();
    EXPECT_TRUE(g_CameraMgr.hwInitialized);
    HwInit();
    EXPECT_EQ(Calls(), (std::vector<std::string>{"MediaLibInit() = 0"}));
    // The failure shows later, as the service's other calls failing.
    EXPECT_NE(QueryCameraStatus(0), Closed);
}

TEST(Registry, CameraInitFillsOneRecordSilently) {
    twincam::test::Sinks sinks;
    EXPECT_EQ(CameraInit(1, 30, 4, 2), 0);
    const CameraRecord expected = {true, 1, 30, 4, 2, 12};
    EXPECT_EQ(g_CameraMgr.cameras[1], expected);
    EXPECT_EQ(g_CameraMgr.cameras[0], kUnfilled);
    EXPECT_FALSE(g_CameraMgr.hwInitialized);
    EXPECT_TRUE(Calls().empty());
    EXPECT_TRUE(sinks.Log().empty());
    EXPECT_EQ(sinks.Stdout(), "");
}

TEST(Registry, CameraInitOverwritesEveryField) {
    ASSERT_EQ(CameraInit(0, 30, 640, 480), 0);
    ASSERT_EQ(CameraInit(0, 15, 3, 3), 0);
    const CameraRecord expected = {true, 0, 15, 3, 3, 13};
    EXPECT_EQ(g_CameraMgr.cameras[0], expected);
}

// Product first, times three, halved with truncation toward zero.
TEST(Registry, FrameSizeArithmetic) {
    struct Case {
        int32_t width, height, frameSize;
    };
    const Case cases[] = {
        {4, 2, 12},
        {3, 3, 13},
        {1920, 1080, 3110400},
        {0, 480, 0},
        {-3, 3, -13},
        {2, 357913941, 1073741823},   // width * height * 3 is INT32_MAX - 1
        {1, -715827882, -1073741823}, // the most negative that fits
    };
    for (const Case &c : cases) {
        ASSERT_EQ(CameraInit(0, 30, c.width, c.height), 0) << c.width << "x" << c.height;
        EXPECT_EQ(g_CameraMgr.cameras[0].frameSize, c.frameSize) << c.width << "x" << c.height;
    }
}

// Ids outside the two slots and sizes that overflow 32 bits leave the
// registry exactly as it was.
TEST(Registry, CameraInitRefusesWhatTheRegistryCannotHold) {
    ASSERT_EQ(CameraInit(0, 30, 4, 2), 0);
    CameraManager before;
    std::memcpy(&before, &g_CameraMgr, sizeof before);
    struct Case {
        int32_t id, width, height;
    };
    const Case cases[] = {
        {2, 4, 2},         {-1, 4, 2},          {INT_MIN, 4, 2},       {INT_MAX, 4, 2},
        {255, 4, 2},       {0, 1, 715827883},   {1, 715827883, 1},     {0, 1, -715827883},
        {0, 65536, 65536}, {1, INT_MIN, INT_MIN}, {0, INT_MAX, INT_MAX}, {0, INT_MIN, 1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(CameraInit(c.id, 30, c.width, c.height), 1) << c.id << " " << c.width << "x" << c.height;
        EXPECT_EQ(std::memcmp(&before, &g_CameraMgr, sizeof before), 0)
            << c.id << " " << c.width << "x" << c.height;
    }
    EXPECT_TRUE(Calls().empty());
}

}  // namespace
