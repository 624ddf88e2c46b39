// The registry: its initial values, the one-time service initialisation and
// the records CameraInit writes.
#include <climits>
#include <cstring>

#include "support.h"

using namespace twincam::test;

namespace {

TEST(Registry, StartsUnfilledAndUninitialised) {
    EXPECT_FALSE(g_CameraMgr.hwInitialized);
    EXPECT_EQ(g_CameraMgr.cameras[0], kUnfilled);
    EXPECT_EQ(g_CameraMgr.cameras[1], kUnfilled);
    EXPECT_EQ(g_CameraMgr.cameras[0].id, 255);
}

// The checker holds hwInitialized to the calls of MediaLibInit made.
TEST(Registry, HwInitInitialisesTheServiceOnce) {
    Verify([](CameraFrame *) { return HwInit(), HwInit(), 0; }, {0, {"MediaLibInit() = 1"}});
    EXPECT_TRUE(g_CameraMgr.hwInitialized);
}

TEST(Registry, FailedInitialisationIsNeverRetried) {
    twincam_sim_fault(TWINCAM_SIM_OP_INIT, 1, 0);
    Verify([](CameraFrame *) { return HwInit(), HwInit(), 0; }, {0, {"MediaLibInit() = 0"}});
    EXPECT_TRUE(g_CameraMgr.hwInitialized);
    // The failure shows later, as the service's other calls failing.
    EXPECT_NE(QueryCameraStatus(0), Closed);
}

// No platform call, no report, and camera 0's record untouched.
TEST(Registry, CameraInitFillsOneRecordSilently) {
    Verify([](CameraFrame *) { return CameraInit(1, 30, 4, 2); }, {0, {}, {}, CameraRecord{true, 1, 30, 4, 2, 12}, {}, 0, 1});
    EXPECT_EQ(g_CameraMgr.cameras[0], kUnfilled);
    EXPECT_FALSE(g_CameraMgr.hwInitialized);
}

TEST(Registry, CameraInitOverwritesEveryField) {
    ASSERT_EQ(CameraInit(0, 30, 640, 480), 0);
    ASSERT_EQ(CameraInit(0, 15, 3, 3), 0);
    EXPECT_EQ(g_CameraMgr.cameras[0], (CameraRecord{true, 0, 15, 3, 3, 13}));
}

// Product first, times three, halved with truncation toward zero.
TEST(Registry, FrameSizeArithmetic) {
    const int32_t cases[][3] = {
        // width, height, frame size
        {4, 2, 12},    {3, 3, 13}, {1920, 1080, 3110400}, {0, 480, 0}, {-3, 3, -13},
        {2, 357913941, 1073741823},    // width * height * 3 is INT32_MAX - 1
        {1, -715827882, -1073741823},  // the most negative that fits
    };
    for (const auto &c : cases) {
        ASSERT_EQ(CameraInit(0, 30, c[0], c[1]), 0) << c[0] << "x" << c[1];
        EXPECT_EQ(g_CameraMgr.cameras[0].frameSize, c[2]) << c[0] << "x" << c[1];
    }
}

// Ids outside the two slots and sizes that overflow 32 bits leave the
// registry exactly as it was.
TEST(Registry, CameraInitRefusesWhatTheRegistryCannotHold) {
    ASSERT_EQ(CameraInit(0, 30, 4, 2), 0);
    CameraManager before;
    std::memcpy(&before, &g_CameraMgr, sizeof before);
    const int32_t cases[][3] = {
        // id, width, height
        {2, 4, 2},         {-1, 4, 2},            {INT_MIN, 4, 2},       {INT_MAX, 4, 2},
        {255, 4, 2},       {0, 1, 715827883},     {1, 715827883, 1},     {0, 1, -715827883},
        {0, 65536, 65536}, {1, INT_MIN, INT_MIN}, {0, INT_MAX, INT_MAX}, {0, INT_MIN, 1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(CameraInit(c[0], 30, c[1], c[2]), 1) << c[0] << " " << c[1] << "x" << c[2];
        EXPECT_EQ(std::memcmp(&before, &g_CameraMgr, sizeof before), 0) << c[0] << " " << c[1] << "x" << c[2];
    }
    EXPECT_TRUE(Calls().empty());
}

}  // namespace
