// twincam-capture end to end: the files it writes, what they hold, its exit
// status on failures and bad options, and Ctrl-C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "messages.h"
#include "twincam/sim/twincam_sim.h"

using twincam::test::Line;
using twincam::test::Msg;
using twincam::test::R;

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
    double seconds = 0;
};

std::string Slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CaptureTool : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("twincam-capture-test-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the tool with args and extra environment; interruptAfterMs > 0
    // sends SIGINT that long after the start.
    Result Tool(std::vector<std::string> args, std::vector<std::string> env = {"TWINCAM_SIM_PACE=0"},
             int interruptAfterMs = 0) {
        std::vector<std::string> argv = {TWINCAM_CAPTURE_TOOL};
        argv.insert(argv.end(), args.begin(), args.end());
        const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            for (const std::string &e : env) putenv(strdup(e.c_str()));
            std::vector<char *> cargv;
            for (std::string &a : argv) cargv.push_back(a.data());
            cargv.push_back(nullptr);
            execvp(cargv[0], cargv.data());
            _exit(127);
        }
        if (interruptAfterMs > 0) {
            usleep(static_cast<useconds_t>(interruptAfterMs) * 1000);
            kill(-pid, SIGINT);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        Result r;
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = Slurp(out);
        r.err = Slurp(err);
        return r;
    }

    std::set<std::string> Files(const fs::path &d) const {
        std::set<std::string> names;
        for (const auto &e : fs::directory_iterator(d)) names.insert(e.path().filename().string());
        return names;
    }

    fs::path dir_;
};

bool PngSize(const fs::path &p, unsigned *w, unsigned *h) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, p.c_str()) == 0) return false;
    *w = image.width;
    *h = image.height;
    png_image_free(&image);
    return true;
}

std::string Name(int camera, int sequence, const char *ext) {
    char name[32];
    std::snprintf(name, sizeof name, "cam%d-%06d.%s", camera, sequence, ext);
    return name;
}

TEST_F(CaptureTool, EachCameraAndBothWriteStampedFrames) {
    const std::vector<std::vector<int>> sets = {{0}, {1}, {0, 1}};
    for (const auto &cameras : sets) {
        const fs::path out = dir_ / ("out" + std::to_string(cameras.size()) + std::to_string(cameras[0]));
        std::vector<std::string> args = {"--frames", "4", "--size", "320x240", "--format", "both",
                                         "--output", out.string(), "--sheet", (out / "sheet.png").string()};
        for (int c : cameras) args.insert(args.end(), {"--camera", std::to_string(c)});
        const Result r = Tool(args);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(Files(out).size(), cameras.size() * 8 + 1);
        for (int c : cameras) {
            EXPECT_NE(r.out.find(Line(R(Msg::OpenSuccess, c))), std::string::npos);
            EXPECT_NE(r.out.find("camera " + std::to_string(c) + ": 4 frames, 460800 bytes"), std::string::npos)
                << r.out;
            for (int n = 0; n < 4; ++n) {
                unsigned w = 0, h = 0;
                ASSERT_TRUE(PngSize(out / Name(c, n, "png"), &w, &h)) << Name(c, n, "png");
                EXPECT_EQ(w, 320u);
                EXPECT_EQ(h, 240u);
                const std::string nv12 = Slurp(out / Name(c, n, "nv12"));
                ASSERT_EQ(nv12.size(), 320u * 240 * 3 / 2);
                twincam_sim_stamp stamp{};
                ASSERT_EQ(twincam_sim_stamp_decode(nv12.data(), 320, 240, &stamp), 0);
                EXPECT_EQ(stamp.camera, c);
                EXPECT_EQ(stamp.sequence, static_cast<uint32_t>(n));
            }
        }
        EXPECT_NE(r.out.find("missed 0"), std::string::npos);
        EXPECT_EQ(r.err.find("never freed"), std::string::npos) << r.err;
    }
}

TEST_F(CaptureTool, PacedCaptureTakesAboutAsLongAsTheFrameRateSays) {
    const Result r = Tool({"--frames", "6", "--fps", "30", "--size", "128x96", "--format", "nv12", "--output",
                        (dir_ / "paced").string()},
                       {"TWINCAM_SIM_PACE=1"});
    ASSERT_EQ(r.status, 0) << r.err;
    // Five frame periods at least; the upper bound only guards against a hang.
    EXPECT_GT(r.seconds, 5.0 / 30 * 0.8);
    EXPECT_LT(r.seconds, 20.0);
}

TEST_F(CaptureTool, FaultMakesItFailWithTheLibrarysReportAndNoLeak) {
    const Result r = Tool({"--frames", "5", "--size", "320x240", "--output", (dir_ / "f").string()},
                       {"TWINCAM_SIM_PACE=0", "TWINCAM_SIM_FAULTS=read@3=short"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(Line(R(Msg::ReadFailed, 0, 115199))), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("twincam-capture: reading frame 2 from camera 0 failed"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("never freed"), std::string::npos) << r.err;
    EXPECT_EQ(Files(dir_ / "f").size(), 2u) << "the frames before the fault are kept";

    const Result open = Tool({"--camera", "1", "--output", (dir_ / "g").string()},
                          {"TWINCAM_SIM_PACE=0", "TWINCAM_SIM_FAULTS=open@1"});
    EXPECT_EQ(open.status, 1);
    EXPECT_NE(open.out.find(Line(R(Msg::OpenRefused, 1))), std::string::npos);
    EXPECT_NE(open.err.find("opening camera 1 failed"), std::string::npos);

    const Result size = Tool({"--size", "641x480", "--output", (dir_ / "h").string()});
    EXPECT_EQ(size.status, 1) << "the sensor refuses an odd width";
    EXPECT_NE(size.out.find(Line(R(Msg::ResolutionFailed))), std::string::npos);
}

TEST_F(CaptureTool, BadOptionsExitTwoNamingTheOption) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--camera", "2"}, "--camera"},   {{"--camera", "x"}, "--camera"},
        {{"--fps", "0"}, "--fps"},         {{"--fps", "ten"}, "--fps"},
        {{"--size", "640"}, "--size"},     {{"--size", "0x480"}, "--size"},
        {{"--format", "jpg"}, "--format"}, {{"--frames", "-1"}, "--frames"},
        {{"--bogus"}, "--bogus"},          {{"--camera", "0", "--camera", "0"}, "--camera"},
    };
    for (const auto &c : cases) {
        const Result r = Tool(c.first);
        EXPECT_EQ(r.status, 2) << c.second;
        EXPECT_NE(r.err.find(c.second), std::string::npos) << r.err;
    }
    const Result help = Tool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--sheet"), std::string::npos);
    const Result version = Tool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("twincam-capture "), std::string::npos);
}

TEST_F(CaptureTool, CtrlCStopsClosesFreesAndSummarises) {
    const Result r = Tool({"--frames", "100000", "--size", "128x96", "--format", "nv12", "--output",
                        (dir_ / "i").string()},
                       {"TWINCAM_SIM_PACE=1"}, 400);
    EXPECT_EQ(r.status, 130);
    EXPECT_NE(r.out.find("camera 0: "), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("interrupted after"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("never freed"), std::string::npos) << r.err;
    EXPECT_GT(Files(dir_ / "i").size(), 0u);
}

}  // namespace
