// The simulated cameras' pictures: NV12 within BT.601 limited range, moving
// with the frame number, different per camera, and stamped so that a frame
// tells which camera and which frame it is.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <vector>

#include "support.h"

namespace {

// Frames straight from the simulated service, at the given resolution.
struct Frames {
    int32_t camera, width, height;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(static_cast<size_t>(width) * height * 3 / 2);
    bool ok = Open();

    bool Open() {
        MediaLibInit();
        if (QueryCameraStatus(camera) == Closed) OpenCamera(camera);
        CameraResolution r{width, height};
        return SetCameraProperty(camera, Resolution, &r) == 1;
    }
    const std::vector<uint8_t> &Next() {
        int32_t size = static_cast<int32_t>(buffer.size());
        ok = ok && ReadFrameFromCamera(camera, buffer.data(), &size) == 1 && size == static_cast<int32_t>(buffer.size());
        return buffer;
    }
};

TEST(Stamp, DecodesAtEveryWidthFrom128) {
    twincam_sim_stamp stamp{};
    for (int32_t width = 128; width <= 8192; width += 2) {
        // The shortest frame and one whose stamp blocks are whole.
        for (int32_t height : {2, std::min(8192, (width / 64 + 2) & ~1)}) {
            Frames frames{width % 4 == 0 ? 0 : 1, width, height};
            ASSERT_TRUE(frames.ok) << width << "x" << height;
            frames.Next();
            const std::vector<uint8_t> &f = frames.Next();
            ASSERT_TRUE(frames.ok);
            ASSERT_EQ(twincam_sim_stamp_decode(f.data(), width, height, &stamp), 0) << width << "x" << height;
            EXPECT_EQ(stamp.camera, width % 4 == 0 ? 0 : 1);
        }
    }
}

TEST(Stamp, CarriesCameraAndSequenceAtCommonSizes) {
    const int32_t sizes[][2] = {{128, 96}, {640, 480}, {1280, 720}, {1920, 1080}, {3840, 2160}, {8192, 8192}};
    for (const auto &s : sizes) {
        for (int32_t camera : {0, 1}) {
            Frames frames{camera, s[0], s[1]};
            ASSERT_TRUE(frames.ok);
            uint32_t first = 0;
            for (uint32_t n = 0; n < 3; ++n) {
                twincam_sim_stamp stamp{};
                const std::vector<uint8_t> &f = frames.Next();
                ASSERT_EQ(twincam_sim_stamp_decode(f.data(), s[0], s[1], &stamp), 0) << s[0] << "x" << s[1];
                EXPECT_EQ(stamp.camera, camera);
                if (n == 0) first = stamp.sequence;
                EXPECT_EQ(stamp.sequence, first + n) << "numbering runs on from the open";
            }
        }
    }
}

TEST(Stamp, DamagedOrMissingStampIsRejected) {
    Frames frames{0, 640, 480};
    std::vector<uint8_t> f = frames.Next();
    twincam_sim_stamp stamp{};
    ASSERT_EQ(twincam_sim_stamp_decode(f.data(), 640, 480, &stamp), 0);
    const int32_t block = 640 / 64;
    for (int32_t bit = 0; bit < 64; ++bit) {
        std::vector<uint8_t> damaged = f;
        for (int32_t r = 0; r < block; ++r) {
            for (int32_t x = bit * block; x < (bit + 1) * block; ++x) {
                uint8_t &v = damaged[static_cast<size_t>(r) * 640 + x];
                v = v > 128 ? 16 : 235;
            }
        }
        EXPECT_EQ(twincam_sim_stamp_decode(damaged.data(), 640, 480, &stamp), -1) << "bit " << bit;
    }
    std::vector<uint8_t> grey(640 * 480 * 3 / 2, 128);
    EXPECT_EQ(twincam_sim_stamp_decode(grey.data(), 640, 480, &stamp), -1);
    std::vector<uint8_t> black(640 * 480 * 3 / 2, 16);
    EXPECT_EQ(twincam_sim_stamp_decode(black.data(), 640, 480, &stamp), -1);
    EXPECT_EQ(twincam_sim_stamp_decode(nullptr, 640, 480, &stamp), -1);
    Frames narrow{1, 126, 48};
    EXPECT_EQ(twincam_sim_stamp_decode(narrow.Next().data(), 126, 48, &stamp), -1) << "narrow frames carry none";
}

TEST(Pattern, LimitedRangeNv12) {
    for (int32_t camera : {0, 1}) {
        Frames frames{camera, 320, 240};
        const std::vector<uint8_t> &f = frames.Next();
        ASSERT_TRUE(frames.ok);
        const auto luma = f.begin() + 320 * 240;
        EXPECT_GE(*std::min_element(f.begin(), luma), 16);
        EXPECT_LE(*std::max_element(f.begin(), luma), 235);
        EXPECT_GE(*std::min_element(luma, f.end()), 16);
        EXPECT_LE(*std::max_element(luma, f.end()), 240);
        // Under the stamp the chroma is neutral, so the blocks read black and white.
        EXPECT_EQ(f[320 * 240], 128);
        EXPECT_EQ(f[320 * 240 + 1], 128);
    }
}

TEST(Pattern, MovesWithTheFrameNumberAndDiffersPerCamera) {
    Frames zero{0, 320, 240}, one{1, 320, 240};
    const std::vector<uint8_t> a = zero.Next();
    const std::vector<uint8_t> b = zero.Next();
    const std::vector<uint8_t> c = one.Next();
    ASSERT_TRUE(zero.ok && one.ok);
    const size_t below = 320 * 10;  // past the stamp rows
    size_t moved = 0, differs = 0;
    for (size_t i = below; i < 320 * 240; ++i) moved += a[i] != b[i], differs += a[i] != c[i];
    EXPECT_GT(moved, 320u * 16) << "bars scroll between frames";
    EXPECT_GT(differs, 320u * 150) << "camera 1 is visibly distinct";
    // Colour bars: several distinct luma levels across one row.
    std::vector<uint8_t> row(a.begin() + 320 * 120, a.begin() + 320 * 121);
    std::sort(row.begin(), row.end());
    EXPECT_GE(std::unique(row.begin(), row.end()) - row.begin(), 8);
}

TEST(Pacing, ReadsFollowTheFrameRateAndLateReadersSkipAhead) {
    twincam_sim_set_pacing(1);
    Frames frames{0, 128, 96};
    int32_t fps = 50;
    ASSERT_EQ(SetCameraProperty(0, FrameRate, &fps), 1);
    twincam_sim_stamp first{}, second{}, late{};
    ASSERT_EQ(twincam_sim_stamp_decode(frames.Next().data(), 128, 96, &first), 0);
    ASSERT_EQ(twincam_sim_stamp_decode(frames.Next().data(), 128, 96, &second), 0);
    EXPECT_EQ(second.sequence, first.sequence + 1) << "a prompt reader misses nothing";
    usleep(200 * 1000);  // ten frame periods
    ASSERT_EQ(twincam_sim_stamp_decode(frames.Next().data(), 128, 96, &late), 0);
    EXPECT_GT(late.sequence, second.sequence + 3) << "a late reader gets the newest frame";
}

}  // namespace
