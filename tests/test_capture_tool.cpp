// twincam-capture end to end: the files it writes, what they hold, its exit
// status on failures and bad options, slow and failing writers, and Ctrl-C.
#include <algorithm>
#include <sstream>
#include <regex>
#include <signal.h>

#include <chrono>
#include <set>

#include "messages.h"
#include "tool_support.h"

using namespace twincam::test;
using twincam::test::Run;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
    double seconds = 0;
};

class CaptureTool : public testing::Test {
protected:
    void SetUp() override { dir_ = ScratchDir("twincam-capture-test"); }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the tool; interruptAfterMs > 0 sends SIGINT that long after the
    // tool has written its first file into interruptDir (a slow start, as
    // under a sanitizer, is not counted).
    Result Tool(std::vector<std::string> args, std::vector<std::string> env = {"TWINCAM_SIM_PACE=0"}, int interruptAfterMs = 0,
                const fs::path &interruptDir = {}) {
        args.insert(args.begin(), TWINCAM_CAPTURE_TOOL);
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = Spawn(args, dir_, env);
        if (interruptAfterMs > 0) {
            for (int i = 0; i < 600 && (!fs::exists(interruptDir) || fs::is_empty(interruptDir)); ++i) usleep(50 * 1000);
            usleep(static_cast<useconds_t>(interruptAfterMs) * 1000);
            kill(-pid, SIGINT);
        }
        Result r;
        r.status = Wait(pid);
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        r.out = Slurp(dir_ / "stdout");
        r.err = Slurp(dir_ / "stderr");
        EXPECT_EQ(r.err.find("never freed"), std::string::npos) << r.err;
        return r;
    }

    // The frames' files, not the CSV beside them.
    size_t Files(const fs::path &d) const {
        return static_cast<size_t>(std::count_if(fs::directory_iterator(d), {}, [](const fs::directory_entry &e) {
            return e.path().extension() != ".csv";
        }));
    }
    fs::path dir_;
};

std::string Name(int camera, int sequence, const char *ext) {
    char name[32];
    std::snprintf(name, sizeof name, "cam%d-%06d.%s", camera, sequence, ext);
    return name;
}

// A figure from the summary line of a camera: "N read, N written" put the
// number first; "missed N, dropped N, waiting N" after.
long Figure(const std::string &out, int camera, const std::string &what) {
    const std::string line = out.substr(out.find("camera " + std::to_string(camera) + ": "));
    const size_t after = line.find(" " + what + ",");
    if (after != std::string::npos) {
        const size_t start = line.rfind(' ', after - 1) + 1;
        return std::stol(line.substr(start, after - start));
    }
    const size_t before = line.find(what + " ");
    return before == std::string::npos ? -1 : std::stol(line.substr(before + what.size() + 1));
}

// A camera's CSV, its header and every row's format checked: the frames'
// rows, and the camera's going down and coming back (into *events).
struct CsvRow {
    long long sequence = 0, monotonicNs = 0;
    std::string file;
    bool written = false;
};
std::vector<CsvRow> CsvRows(const fs::path &csv, std::vector<std::string> *events = nullptr) {
    std::istringstream text(Slurp(csv));
    std::string line;
    std::getline(text, line);
    EXPECT_EQ(line, "sequence,monotonic_ns,wall_time,file,status") << csv;
    static const std::regex format(
        R"re((\d*),(\d+),\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{9}Z,([^,]*),(written|dropped|down|back))re");
    std::vector<CsvRow> rows;
    for (std::smatch m; std::getline(text, line);) {
        EXPECT_TRUE(std::regex_match(line, m, format)) << line;
        if (m.empty()) continue;
        const bool frame = m[4].str() == "written" || m[4].str() == "dropped";
        EXPECT_EQ(frame, !m[1].str().empty()) << line;
        if (!frame && events != nullptr) events->push_back(m[4].str());
        if (frame) rows.push_back({std::stoll(m[1].str()), std::stoll(m[2].str()), m[3].str(), m[4].str() == "written"});
    }
    return rows;
}

void ExpectPng(const fs::path &p, unsigned width, unsigned height) {
    unsigned w = 0, h = 0;
    ASSERT_TRUE(PngSize(p, &w, &h)) << p;
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
}

TEST_F(CaptureTool, EachCameraAndBothWriteStampedFrames) {
    for (const std::vector<int> &cameras : std::vector<std::vector<int>>{{0}, {1}, {0, 1}}) {
        const fs::path out = dir_ / ("out" + std::to_string(cameras.size()) + std::to_string(cameras[0]));
        std::vector<std::string> args = {"--frames", "4", "--size", "320x240", "--format", "both", "--queue", "64",
                                         "--output", out.string(), "--sheet", (out / "sheet.png").string()};
        for (int c : cameras) args.insert(args.end(), {"--camera", std::to_string(c)});
        const Result r = Tool(args);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(Files(out), cameras.size() * 8 + 1);
        for (int c : cameras) {
            EXPECT_NE(r.out.find(Line(R(Msg::OpenSuccess, c))), std::string::npos);
            EXPECT_NE(r.out.find("camera " + std::to_string(c) + ": 4 read, 4 written, missed 0, dropped 0, 460800 bytes"),
                      std::string::npos)
                << r.out;
            for (int n = 0; n < 4; ++n) {
                ExpectPng(out / Name(c, n, "png"), 320, 240);
                const std::string nv12 = Slurp(out / Name(c, n, "nv12"));
                ASSERT_EQ(nv12.size(), 320u * 240 * 3 / 2);
                twincam_sim_stamp stamp{};
                ASSERT_EQ(twincam_sim_stamp_decode(nv12.data(), 320, 240, &stamp), 0);
                EXPECT_EQ(stamp.camera, c);
                EXPECT_EQ(stamp.sequence, static_cast<uint32_t>(n));
            }
        }
    }
}

TEST_F(CaptureTool, PacedCaptureTakesAboutAsLongAsTheFrameRateSays) {
    const Result r = Tool({"--frames", "6", "--fps", "30", "--size", "128x96", "--format", "nv12", "--output", (dir_ / "p").string()},
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
    EXPECT_EQ(Files(dir_ / "f"), 2u) << "the frames before the fault are kept";

    const Result open =
        Tool({"--camera", "1", "--output", (dir_ / "g").string()}, {"TWINCAM_SIM_PACE=0", "TWINCAM_SIM_FAULTS=open@1"});
    EXPECT_EQ(open.status, 1);
    EXPECT_NE(open.out.find(Line(R(Msg::OpenRefused, 1))), std::string::npos);
    EXPECT_NE(open.err.find("opening camera 1 failed"), std::string::npos);

    const Result size =
        Tool({"--output", (dir_ / "h").string()}, {"TWINCAM_SIM_PACE=0", "TWINCAM_SIM_FAULTS=setprop@2"});
    EXPECT_EQ(size.status, 1) << "the sensor refuses the resolution";
    EXPECT_NE(size.out.find(Line(R(Msg::ResolutionFailed))), std::string::npos);
}

TEST_F(CaptureTool, BadOptionsExitTwoNamingTheOption) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--camera", "2"}, "--camera"},   {{"--camera", "x"}, "--camera"}, {{"--fps", "0"}, "--fps"},
        {{"--fps", "ten"}, "--fps"},       {{"--size", "640"}, "--size"},   {{"--size", "0x480"}, "--size"},
        {{"--size", "641x480"}, "--size"}, {{"--fps", "241"}, "--fps"},
        {{"--format", "jpg"}, "--format"}, {{"--frames", "-1"}, "--frames"}, {{"--bogus"}, "--bogus"},
        {{"--camera", "0", "--camera", "0"}, "--camera"},
    };
    for (const auto &c : cases) {
        const Result r = Tool(c.first);
        EXPECT_EQ(r.status, 2) << c.second;
        EXPECT_NE(r.err.find(c.second), std::string::npos) << r.err;
    }
    const Result help = Tool({"--help"}), version = Tool({"--version"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--sheet"), std::string::npos);
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("twincam-capture "), std::string::npos);
}

TEST_F(CaptureTool, CtrlCStopsClosesFreesAndSummarises) {
    const Result r = Tool({"--frames", "100000", "--size", "128x96", "--format", "nv12", "--output", (dir_ / "i").string()},
                          {"TWINCAM_SIM_PACE=1"}, 300, dir_ / "i");
    EXPECT_EQ(r.status, 130);
    EXPECT_NE(r.out.find("camera 0: "), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("interrupted after"), std::string::npos) << r.err;
    EXPECT_GT(Files(dir_ / "i"), 0u);
}

TEST_F(CaptureTool, SlowWritersDropTheNewestWithinTheBoundAndFreeEverything) {
    const Result r = Tool({"--frames", "40", "--size", "160x120", "--format", "nv12", "--queue", "2", "--writers", "1",
                           "--slow-writer", "20", "--output", (dir_ / "slow").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const long read = Figure(r.out, 0, "read"), written = Figure(r.out, 0, "written"), dropped = Figure(r.out, 0, "dropped");
    EXPECT_EQ(read, 40) << r.out;
    EXPECT_GT(dropped, 0) << r.out;
    EXPECT_EQ(written + dropped, read) << "every frame read is written or counted as dropped";
    EXPECT_EQ(Figure(r.out, 0, "waiting"), 2) << r.out;
    EXPECT_EQ(static_cast<long>(Files(dir_ / "slow")), written);
    EXPECT_NE(r.err.find("dropped unwritten"), std::string::npos) << "never silent";

    // The CSV: a row per frame read, its file there where it was written, times rising.
    const std::vector<CsvRow> rows = CsvRows(dir_ / "slow" / "cam0.csv");
    long writtenRows = 0;
    std::set<long long> times;
    for (const CsvRow &row : rows) {
        times.insert(row.monotonicNs);
        writtenRows += row.written ? 1 : 0;
        EXPECT_EQ(row.written, !row.file.empty() && fs::exists(dir_ / "slow" / row.file)) << row.sequence;
    }
    EXPECT_EQ(static_cast<long>(rows.size()), read);
    EXPECT_EQ(writtenRows, written);
    EXPECT_EQ(static_cast<long>(times.size()), read) << "each frame its own capture time";
}

TEST_F(CaptureTool, FailingWriteEndsTheRunWithNothingLeaked) {
    // Directories where the frames' files would go make every write fail.
    for (int n = 0; n < 50; ++n) fs::create_directories(dir_ / "blocked" / Name(0, n, "jpg"));
    // Paced, so the first failure comes long before the last frame is due.
    const Result r = Tool({"--frames", "50", "--fps", "60", "--size", "160x120", "--format", "jpeg,y4m", "--output",
                           (dir_ / "blocked").string()},
                          {"TWINCAM_SIM_PACE=1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot create"), std::string::npos) << r.err;
    EXPECT_LT(Figure(r.out, 0, "read"), 50) << "reading stops at the failure";
}

TEST_F(CaptureTool, Y4mVideoJpegAndPngFilesDecode) {
    const Result r = Tool({"--camera", "0", "--camera", "1", "--frames", "5", "--fps", "25", "--size", "320x240", "--format",
                           "y4m,jpeg,png", "--queue", "64", "--output", (dir_ / "v").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    for (int c = 0; c < 2; ++c) {
        const std::string y4m = Slurp(dir_ / "v" / ("cam" + std::to_string(c) + ".y4m"));
        const std::string header = "YUV4MPEG2 W320 H240 F25:1 Ip A1:1 C420mpeg2\n";
        ASSERT_EQ(y4m.compare(0, header.size(), header), 0) << y4m.substr(0, 60);
        const size_t frameBytes = 6 + 320 * 240 * 3 / 2;
        ASSERT_EQ(y4m.size(), header.size() + 5 * frameBytes);
        for (int n = 0; n < 5; ++n) {
            const size_t at = header.size() + n * frameBytes;
            ASSERT_EQ(y4m.compare(at, 6, "FRAME\n"), 0);
            twincam_sim_stamp stamp{};
            ASSERT_EQ(twincam_sim_stamp_decode(y4m.data() + at + 6, 320, 240, &stamp), 0);
            EXPECT_EQ(stamp.camera, c);
            EXPECT_EQ(stamp.sequence, static_cast<uint32_t>(n)) << "consecutive frames in order";
            int w = 0, h = 0;
            EXPECT_EQ(JpegStamp(Slurp(dir_ / "v" / Name(c, n, "jpg")), &w, &h), (std::pair<int, long long>{c, n}));
            EXPECT_EQ(w, 320);
            EXPECT_EQ(h, 240);
            ExpectPng(dir_ / "v" / Name(c, n, "png"), 320, 240);
        }
    }
}

// Camera 1 six ms behind and one of its frames lost on the sensor (reads
// alternate 0, 1 once primed, so read 10 is camera 1's): one frame goes
// unmatched, every pair is still written, and side by side makes one picture.
TEST_F(CaptureTool, PairWritesMatchedFramesNamedByPair) {
    const fs::path out = dir_ / "pairs";
    Result r = Tool({"--pair", "--frames", "8", "--size", "160x120", "--format", "nv12", "--output", out.string()},
                    {"TWINCAM_SIM_PACE=1", "TWINCAM_SIM_PHASE_1=6", "TWINCAM_SIM_FAULTS=read@10=drop"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The dropped frame leaves its partner unmatched; a read delayed by a busy machine may leave more.
    std::smatch pairs;
    ASSERT_TRUE(std::regex_search(r.out, pairs, std::regex("pairs: 8 matched, (\\d+) frames unmatched; skew ms median")))
        << r.out;
    EXPECT_GE(std::stoi(pairs[1].str()), 1) << r.out;
    EXPECT_EQ(Files(out), 16u);
    for (int c = 0; c < 2; ++c) {
        long long last = -1;
        for (int n = 0; n < 8; ++n) {
            char name[40];
            std::snprintf(name, sizeof name, "pair-%06d-cam%d.nv12", n, c);
            twincam_sim_stamp stamp{};
            ASSERT_EQ(twincam_sim_stamp_decode(Slurp(out / name).data(), 160, 120, &stamp), 0) << name;
            EXPECT_EQ(stamp.camera, c);
            EXPECT_GT(static_cast<long long>(stamp.sequence), last);
            last = stamp.sequence;
        }
        EXPECT_EQ(static_cast<long>(CsvRows(out / ("cam" + std::to_string(c) + ".csv")).size()), Figure(r.out, c, "read"));
    }

    r = Tool({"--side-by-side", "--frames", "2", "--size", "160x120", "--output", (dir_ / "sbs").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectPng(dir_ / "sbs" / "pair-000001.png", 320, 120);
    EXPECT_EQ(Tool({"--pair", "--camera", "1"}).status, 2);
}

// What ffprobe makes of a video: frames counted by decoding, and duration (s).
std::pair<long, double> Probe(const fs::path &video, const fs::path &dir) {
    std::string out;
    EXPECT_EQ(Run({TWINCAM_FFPROBE, "-v", "error", "-count_frames", "-show_entries", "stream=nb_read_frames,duration",
                   "-of", "csv=p=0", video.string()},
                  dir, &out), 0) << video << out;
    long frames = -1;
    double duration = -1;
    std::sscanf(out.c_str(), "%lf,%ld", &duration, &frames);
    return {frames, duration};
}

// The capture times (ns) of the frames a camera's CSV says were written.
std::vector<long long> WrittenTimes(const fs::path &csv) {
    std::vector<long long> times;
    for (const CsvRow &row : CsvRows(csv)) {
        if (row.written) times.push_back(row.monotonicNs);
    }
    return times;
}

// MP4 plays every frame written, at the speed it was recorded; after Ctrl-C
// it still plays to its last frame; segments each play on their own.
TEST_F(CaptureTool, Mp4PlaysEveryFrameAtItsRecordedSpeed) {
    if (!*TWINCAM_FFPROBE) GTEST_SKIP() << "ffprobe is not installed (apt-get install ffmpeg)";
    const fs::path out = dir_ / "mp4";
    // A queue that holds every frame: a loaded machine slows the encoder, and
    // a frame dropped for it would be missing from the file by design.
    Result r = Tool({"--camera", "0", "--camera", "1", "--frames", "40", "--size", "320x240", "--format", "mp4", "--queue",
                     "128", "--output", out.string()},
                    {"TWINCAM_SIM_PACE=1"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (int c = 0; c < 2; ++c) {
        const std::vector<long long> times = WrittenTimes(out / ("cam" + std::to_string(c) + ".csv"));
        ASSERT_EQ(times.size(), 40u);
        const auto [frames, duration] = Probe(out / ("cam" + std::to_string(c) + ".mp4"), dir_ / "probe");
        EXPECT_EQ(frames, 40);
        const double recorded = static_cast<double>(times.back() - times.front()) / 1e9 + 1.0 / 30;
        EXPECT_NEAR(duration, recorded, 1.0 / 30) << "camera " << c;
    }

    r = Tool({"--frames", "100000", "--size", "320x240", "--format", "mp4", "--output", (dir_ / "stopped").string()},
             {"TWINCAM_SIM_PACE=1"}, 1000, dir_ / "stopped");
    EXPECT_EQ(r.status, 130) << r.err;
    const long written = static_cast<long>(WrittenTimes(dir_ / "stopped" / "cam0.csv").size());
    EXPECT_GT(written, 10);
    EXPECT_EQ(Probe(dir_ / "stopped" / "cam0.mp4", dir_ / "probe").first, written);

    r = Tool({"--frames", "75", "--size", "320x240", "--format", "mp4", "--segment", "1", "--queue", "128", "--output",
              (dir_ / "pieces").string()},
             {"TWINCAM_SIM_PACE=1"});
    ASSERT_EQ(r.status, 0) << r.err;
    long frames = 0;
    for (int n = 0; n < 3; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "cam0-%05d.mp4", n);
        const long piece = Probe(dir_ / "pieces" / name, dir_ / "probe").first;
        EXPECT_GT(piece, 0) << name;
        frames += piece;
    }
    EXPECT_EQ(frames, 75);
}

// SIGKILL five seconds into an open-ended capture leaves an MP4 that plays
// all but its last fragment and a CSV of every frame but the last second's.
TEST_F(CaptureTool, Mp4AndCsvSurviveSigkill) {
    if (!*TWINCAM_FFPROBE) GTEST_SKIP() << "ffprobe is not installed (apt-get install ffmpeg)";
    const fs::path out = dir_ / "killed";
    const pid_t pid = Spawn({TWINCAM_CAPTURE_TOOL, "--frames", "0", "--size", "640x480", "--format", "mp4", "--output",
                             out.string()}, dir_, {"TWINCAM_SIM_PACE=1"});
    for (int i = 0; i < 600 && !fs::exists(out / "cam0.mp4"); ++i) usleep(50 * 1000);
    usleep(5 * 1000 * 1000);
    kill(pid, SIGKILL);
    EXPECT_EQ(Wait(pid), 128 + SIGKILL);
    const long rows = static_cast<long>(CsvRows(out / "cam0.csv").size());
    EXPECT_GE(rows, 4 * 30) << "five seconds at 30 fps, less the last";
    const long frames = Probe(out / "cam0.mp4", dir_ / "probe").first;
    EXPECT_LE(frames, rows);
    EXPECT_GE(frames, rows - 36) << "all but the fragment being written (a second)";
}

// A full disk ends the capture saying which file and why (the MP4, or the
// CSV when its line takes the last bytes); the MP4 plays what the summary
// counts as written, give or take the fragment cut short.
TEST_F(CaptureTool, FullDiskEndsTheCaptureWithWhatWasSavedPlayable) {
    if (!*TWINCAM_FFPROBE) GTEST_SKIP() << "ffprobe is not installed (apt-get install ffmpeg)";
    const fs::path full = dir_ / "full";
    fs::create_directories(full);
    if (std::system(("mount -t tmpfs -o size=1m tmpfs " + full.string() + " 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): the full disk is not tried";
    }
    const Result r = Tool({"--frames", "0", "--size", "1920x1080", "--format", "mp4", "--output", (full / "out").string()},
                          {"TWINCAM_SIM_PACE=1"});
    const long written = Figure(r.out, 0, "written");
    const long frames = Probe(full / "out" / "cam0.mp4", dir_ / "probe").first;
    std::system(("umount " + full.string()).c_str());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.find("cam0.mp4 failed: file: No space left") != std::string::npos ||
                r.err.find("cannot write cam0.csv: No space left") != std::string::npos)
        << r.err;
    EXPECT_GT(written, 0);
    EXPECT_LT(written, Figure(r.out, 0, "read"));
    EXPECT_GE(frames, written);
    EXPECT_LE(frames, written + 30);
}

// --keep-going: a camera unplugged for a while is reopened, its outage in
// the CSV and the summary; --frames 0 runs until stopped, and a stop is a
// clean end.
TEST_F(CaptureTool, KeepGoingReopensAnUnpluggedCameraAndFramesZeroRunsUntilStopped) {
    const fs::path out = dir_ / "kept";
    Result r = Tool({"--frames", "90", "--size", "160x120", "--keep-going", "--reopen-max", "1", "--output", out.string()},
                    {"TWINCAM_SIM_PACE=1", "TWINCAM_SIM_UNPLUG_0=1+1.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Figure(r.out, 0, "read"), 90);
    EXPECT_GE(Figure(r.out, 0, "missed"), 40) << "1.5 s or more at 30 fps";
    EXPECT_NE(r.out.find("; down 1 times for "), std::string::npos) << r.out;
    std::vector<std::string> events;
    EXPECT_EQ(CsvRows(out / "cam0.csv", &events).size(), 90u);
    EXPECT_EQ(events, (std::vector<std::string>{"down", "back"}));
    EXPECT_NE(Tool({"--frames", "90", "--output", (dir_ / "ended").string()}, {"TWINCAM_SIM_PACE=1", "TWINCAM_SIM_UNPLUG_0=0.5+1"}).status, 0)
        << "without --keep-going a failure ends the capture";

    r = Tool({"--frames", "0", "--size", "160x120", "--output", (dir_ / "open").string()}, {"TWINCAM_SIM_PACE=1"}, 500,
             dir_ / "open");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_GT(Figure(r.out, 0, "written"), 5);
}

}  // namespace
