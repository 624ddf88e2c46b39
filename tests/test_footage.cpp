// The simulated cameras play footage: a clip made here (frames of known,
// distinct content) and a directory of images, read through the library at
// the clip's size and another, in order, looped, stamped or clean; a source
// that cannot be played fails that camera's open with the reason.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "support.h"

namespace fs = std::filesystem;
using twincam::test::Capture;

namespace {

#if TWINCAM_TEST_PLAYS_FOOTAGE

// Frame k: left half luma kLeft[k], right half kRight[k], neutral chroma.
constexpr int kFrames = 4;
constexpr uint8_t kLeft[kFrames] = {40, 90, 140, 190};
constexpr uint8_t kRight[kFrames] = {200, 150, 100, 50};

class Footage : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("twincam-footage-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        twincam_sim_set_pacing(0);
    }
    void TearDown() override {
        fs::remove_all(dir_);
        EXPECT_EQ(twincam_sim_live_buffers(), 0u);
    }

    // A YUV4MPEG2 clip of kFrames frames of width x height.
    fs::path Clip(int width, int height) {
        const fs::path path = dir_ / "clip.y4m";
        std::ofstream out(path, std::ios::binary);
        out << "YUV4MPEG2 W" << width << " H" << height << " F25:1 Ip A1:1 C420jpeg\n";
        for (int k = 0; k < kFrames; ++k) {
            out << "FRAME\n";
            std::vector<char> y(static_cast<size_t>(width) * height);
            for (int r = 0; r < height; ++r) {
                for (int c = 0; c < width; ++c) y[r * width + c] = static_cast<char>(c < width / 2 ? kLeft[k] : kRight[k]);
            }
            out.write(y.data(), static_cast<std::streamsize>(y.size()));
            const std::string chroma(static_cast<size_t>(width) * height / 2, static_cast<char>(128));
            out.write(chroma.data(), static_cast<std::streamsize>(chroma.size()));
        }
        return path;
    }

    // Reads one frame of camera id at width x height: luma at the middle row,
    // a quarter and three quarters across, and the stamp's sequence (-1: none).
    struct Seen {
        int left, right;
        long long sequence;
    };
    Seen Read(int id, int width, int height) {
        CameraFrame frame{};
        EXPECT_EQ(ReadCameraFrame(id, &frame), 0);
        if (frame.data == nullptr) return {-1, -1, -1};
        EXPECT_EQ(frame.size, width * height * 3 / 2);
        const auto *y = static_cast<const uint8_t *>(frame.data);
        const size_t row = static_cast<size_t>(height / 2) * width;
        twincam_sim_stamp stamp{};
        const long long seq =
            twincam_sim_stamp_decode(y, width, height, &stamp) == 0 ? static_cast<long long>(stamp.sequence) : -1;
        const Seen seen{y[row + width / 4], y[row + width * 3 / 4], seq};
        acldvppFree(frame.data);
        return seen;
    }

    fs::path dir_;
};

TEST_F(Footage, ClipPlaysInOrderAndLoopsAtItsOwnSize) {
    ASSERT_EQ(twincam_sim_set_source(0, Clip(160, 120).c_str()), 0);
    ASSERT_EQ(OpenCameraEx(0, 30, 160, 120), 0);
    for (int n = 0; n < 3 * kFrames; ++n) {
        const Seen s = Read(0, 160, 120);
        EXPECT_NEAR(s.left, kLeft[n % kFrames], 2) << "frame " << n;
        EXPECT_NEAR(s.right, kRight[n % kFrames], 2) << "frame " << n;
        EXPECT_EQ(s.sequence, n) << "stamped by default";
    }
    EXPECT_EQ(CloseCameraEx(0), 0);
}

TEST_F(Footage, ScaledToTheConfiguredSize) {
    ASSERT_EQ(twincam_sim_set_source(1, Clip(160, 120).c_str()), 0);
    ASSERT_EQ(OpenCameraEx(1, 30, 640, 360), 0);
    for (int n = 0; n < kFrames + 1; ++n) {
        const Seen s = Read(1, 640, 360);
        EXPECT_NEAR(s.left, kLeft[n % kFrames], 2);
        EXPECT_NEAR(s.right, kRight[n % kFrames], 2);
    }
    EXPECT_EQ(CloseCameraEx(1), 0);
}

TEST_F(Footage, DirectoryOfImagesInNameOrderWithoutStamp) {
    setenv("TWINCAM_SIM_STAMP", "0", 1);
    twincam_sim_reset();
    const uint8_t grey[3] = {60, 120, 180};
    for (int i = 2; i >= 0; --i) {  // written out of order: names decide
        std::vector<uint8_t> pixels(200 * 100, grey[i]);
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = 200;
        image.height = 100;
        image.format = PNG_FORMAT_GRAY;
        const std::string name = (dir_ / ("frame" + std::to_string(i) + ".png")).string();
        ASSERT_NE(png_image_write_to_file(&image, name.c_str(), 0, pixels.data(), 200, nullptr), 0);
    }
    std::ofstream(dir_ / "notes.txt") << "not a picture, passed over";
    ASSERT_EQ(twincam_sim_set_source(0, dir_.c_str()), 0);
    ASSERT_EQ(OpenCameraEx(0, 30, 320, 240), 0);
    int previous = 0;
    for (int n = 0; n < 7; ++n) {
        const Seen s = Read(0, 320, 240);
        // Grey in full range arrives as limited-range luma: 16 + v * 219 / 255.
        EXPECT_NEAR(s.left, 16 + grey[n % 3] * 219 / 255, 3) << "image " << n % 3;
        EXPECT_EQ(s.sequence, -1) << "no stamp with TWINCAM_SIM_STAMP=0";
        if (n % 3 != 0) {
            EXPECT_GT(s.left, previous);
        }
        previous = s.left;
    }
    EXPECT_EQ(CloseCameraEx(0), 0);
}

// Missing, holding no pictures, not a video: the open fails with the reason
// on stderr, once; the other camera is unaffected.
TEST_F(Footage, BadSourceFailsThatCamerasOpenWithTheReason) {
    fs::create_directories(dir_ / "empty");
    std::ofstream(dir_ / "text.mp4") << "this is no video";
    const struct {
        fs::path path;
        const char *reason;
    } cases[] = {{dir_ / "missing.mp4", "no such file"},
                 {dir_ / "empty", "no PNG or JPEG images"},
                 {dir_ / "text.mp4", "text.mp4: "}};
    for (const auto &c : cases) {
        ASSERT_EQ(twincam_sim_set_source(0, c.path.c_str()), 0);
        Capture err(stderr);
        {
            twincam::test::Sinks quiet;
            EXPECT_EQ(OpenCameraEx(0, 30, 160, 120), 1);
            EXPECT_EQ(OpenCameraEx(0, 30, 160, 120), 1);
        }
        const std::string text = err.Text();
        const std::string said = "cannot play " + c.path.string() + ": ";
        EXPECT_NE(text.find(said), std::string::npos) << text;
        EXPECT_NE(text.find(c.reason, text.find(said)), std::string::npos) << text;
        EXPECT_EQ(text.find(said, text.find(said) + 1), std::string::npos) << "told once: " << text;
    }
    ASSERT_EQ(OpenCameraEx(1, 30, 160, 120), 0);
    EXPECT_NE(Read(1, 160, 120).sequence, -1);
    EXPECT_EQ(CloseCameraEx(1), 0);
}

#else

TEST(Footage, RefusedWithWhatToInstall) {
    ASSERT_EQ(twincam_sim_set_source(0, "/any/clip.mp4"), 0);
    Capture err(stderr);
    EXPECT_EQ(OpenCameraEx(0, 30, 160, 120), 1);
    EXPECT_NE(err.Text().find("libavformat-dev"), std::string::npos) << err.Text();
}

#endif

}  // namespace
