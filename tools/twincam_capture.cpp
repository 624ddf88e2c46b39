// twincam-capture: reads frames from one or both cameras through twincam and
// hands them, still in their dvpp buffers, to writers that encode them as
// PNG, JPEG, raw NV12 or Y4M video on the other cores. Reading never waits
// for writing; a frame the writers cannot take in time is dropped, counted.
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camera_options.h"
#include "frame_sink.h"
#include "run_control.h"
#include "stamp.h"
#include "stats.h"
#include "twincam/camera.h"
#include "writer_pool.h"

namespace fs = std::filesystem;
using namespace twincam::tools;
using Clock = std::chrono::steady_clock;

namespace {

struct Options : CameraOptions {
    Options() { size = "640x480"; }
    int frames = 10;
    std::string output = "captures";
    std::vector<std::string> formats = {"png"};
    int quality = 90;
    int pngLevel = 1;
    std::string sheet;
    size_t queue = 8;
    int writers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    int slowWriterMs = 0;
    bool quiet = false;
};

void Fail(const std::string &what) { std::fprintf(stderr, "twincam-capture: %s\n", what.c_str()); }

// One open camera: reads its frames, numbers them and counts what it missed.
class CameraReader {
public:
    explicit CameraReader(int id) : id_(id) {}
    int id() const { return id_; }

    bool Open(const Options &opt) {
        if (OpenCameraEx(id_, opt.fps, opt.width, opt.height) != 0) return false;
        open_ = true;
        return true;
    }
    bool Close() {
        if (!open_) return true;
        open_ = false;
        return CloseCameraEx(id_) == 0;
    }

    // Reads one frame; nullptr when the library refused (it says why).
    FramePtr Read() {
        CameraFrame delivered{};
        const Clock::time_point t0 = Clock::now();
        if (ReadCameraFrame(id_, &delivered) != 0) return nullptr;
        latencyMs_.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        const CameraRecord &rec = g_CameraMgr.cameras[id_];
        Frame f;
        f.camera = id_;
        f.width = rec.width;
        f.height = rec.height;
        f.sequence = read_;
        f.index = handedOn_;
        int camera = 0;
        uint32_t sequence = 0;
        if (ReadStamp(delivered.data, rec.width, rec.height, &camera, &sequence)) {
            f.sequence = sequence;
            if (camera != id_) ++wrongCamera_;
            if (last_ >= 0 && f.sequence > last_ + 1) missed_ += f.sequence - last_ - 1;
            last_ = f.sequence;
        } else {
            ++stampless_;
        }
        ++read_;
        bytes_ += delivered.size;
        return AdoptFrame(delivered, f);
    }
    // The writers took the last frame read: the next one gets the next index.
    void HandedOn() { ++handedOn_; }

    long read() const { return read_; }
    long long missed() const { return missed_; }
    long long bytes() const { return bytes_; }
    long stampless() const { return stampless_; }
    long wrongCamera() const { return wrongCamera_; }
    const std::vector<double> &latencyMs() const { return latencyMs_; }

private:
    int id_;
    bool open_ = false;
    long read_ = 0, handedOn_ = 0, stampless_ = 0, wrongCamera_ = 0;
    long long last_ = -1, missed_ = 0, bytes_ = 0;
    std::vector<double> latencyMs_;
};

int ParseOptions(int argc, char **argv, Options *opt) {
    CLI::App app{"Capture frames from twincam cameras into PNG, JPEG, NV12 or Y4M files.", "twincam-capture"};
    app.set_version_flag("--version", "twincam-capture " TWINCAM_VERSION);
    AddCameraOptions(app, *opt, "Camera to read, 0 or 1; repeat for both (default 0)");
    app.add_option("--frames", opt->frames, "Frames to capture per camera")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--output", opt->output, "Directory for the frames (created if missing)")->capture_default_str();
    app.add_option("--format", opt->formats,
                   "Outputs, comma-separated: png, jpeg, nv12 (one file per frame), y4m (one video per camera); "
                   "both = png,nv12")
        ->delimiter(',')
        ->check(CLI::IsMember({"png", "jpeg", "nv12", "y4m", "both"}))
        ->capture_default_str();
    app.add_option("--quality", opt->quality, "JPEG quality")->check(CLI::Range(1, 100))->capture_default_str();
    app.add_option("--png-level", opt->pngLevel, "PNG zlib level, 0 (fastest) to 9 (smallest)")
        ->check(CLI::Range(0, 9))
        ->capture_default_str();
    app.add_option("--sheet", opt->sheet, "Also write all frames as one contact sheet PNG");
    app.add_option("--queue", opt->queue, "Frames that may wait for a writer; past it the newest is dropped")
        ->check(CLI::Range(1, 1024))
        ->capture_default_str();
    app.add_option("--writers", opt->writers, "Writer threads")->check(CLI::Range(1, 64))->capture_default_str();
    app.add_option("--slow-writer", opt->slowWriterMs, "Testing: each writer pauses this long per frame (ms)")
        ->group("")
        ->check(CLI::Range(0, 10000));
    app.add_flag("--quiet", opt->quiet, "No progress bar and no summary");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitUsage;
    }
    auto usage = [](const std::string &what) {
        std::fprintf(stderr, "%s\nRun with --help for more information.\n", what.c_str());
        return kExitUsage;
    };
    if (const std::string wrong = CheckCameraOptions(*opt, {0}); !wrong.empty()) return usage(wrong);
    std::vector<std::string> formats;
    for (const std::string &f : opt->formats) {
        const std::vector<std::string> each = f == "both" ? std::vector<std::string>{"png", "nv12"}
                                                          : std::vector<std::string>{f};
        for (const std::string &e : each) {
            if (std::find(formats.begin(), formats.end(), e) == formats.end()) formats.push_back(e);
        }
    }
    opt->formats = formats;
    return -1;
}

std::vector<std::unique_ptr<FrameSink>> MakeSinks(const Options &opt) {
    std::vector<std::unique_ptr<FrameSink>> sinks;
    for (const std::string &f : opt.formats) {
        if (f == "png") sinks.push_back(MakePngFiles(opt.output, opt.pngLevel));
        if (f == "jpeg") sinks.push_back(MakeJpegFiles(opt.output, opt.quality));
        if (f == "nv12") sinks.push_back(MakeNv12Files(opt.output));
        if (f == "y4m") sinks.push_back(MakeY4mVideo(opt.output, opt.fps));
    }
    if (!opt.sheet.empty()) sinks.push_back(MakeContactSheet(opt.sheet));
    return sinks;
}

void Progress(long done, long total) {
    constexpr int kWidth = 30;
    const int filled = total > 0 ? static_cast<int>(done * kWidth / total) : kWidth;
    std::fprintf(stderr, "\r[%.*s%.*s] %ld/%ld frames", filled, "##############################", kWidth - filled,
                 "..............................", done, total);
    std::fflush(stderr);
}

void PrintSummary(const Options &opt, const std::vector<CameraReader> &cameras, const WriterPool &writers,
               double seconds) {
    for (const CameraReader &cam : cameras) {
        const Spread l = Summarise(cam.latencyMs());
        const WriterPool::CameraCounts c = writers.counts(cam.id());
        std::printf("camera %d: %ld read, %ld written, missed %lld, dropped %ld, %lld bytes, %.1f fps; "
                    "read latency ms min %.3f median %.3f p99 %.3f max %.3f; most waiting %zu",
                    cam.id(), cam.read(), c.written, cam.missed(), c.dropped, cam.bytes(),
                    seconds > 0 ? static_cast<double>(cam.read()) / seconds : 0.0, l.min, l.median, l.p99, l.max,
                    c.mostWaiting);
        if (cam.stampless() > 0) std::printf(" (%ld frames without a stamp)", cam.stampless());
        std::printf("\n");
    }
    std::ostringstream encode;
    for (const WriterPool::SinkTime &t : writers.sinkTimes()) {
        char line[64];
        std::snprintf(line, sizeof line, " %s %.2f", t.name.c_str(), t.msPerFrame);
        encode << line;
    }
    std::printf("encode ms per frame:%s\n", encode.str().c_str());
    std::printf("files written: %ld in %s%s%s\n", writers.files(), opt.output.c_str(),
                opt.sheet.empty() ? "" : ", sheet ", opt.sheet.c_str());
}

}  // namespace

int main(int argc, char **argv) {
    // 1. Options.
    Options opt;
    if (const int rc = ParseOptions(argc, argv, &opt); rc >= 0) return rc;

    // 2. Ctrl-C and SIGTERM stop reading; what was read is still written.
    InstallStopHandlers();

    // 3. The output directory and the writers.
    std::error_code ec;
    fs::create_directories(opt.output, ec);
    if (ec) {
        Fail("cannot create " + opt.output + ": " + ec.message());
        return kExitFailure;
    }
    WriterPool writers(MakeSinks(opt), opt.queue, opt.writers, opt.slowWriterMs);

    // 4. Open the cameras; the library's report lines say why one fails.
    std::vector<CameraReader> cameras;
    int status = kExitOk;
    for (int id : opt.cameras) {
        cameras.emplace_back(id);
        if (!cameras.back().Open(opt)) {
            Fail("opening camera " + std::to_string(id) + " failed");
            status = kExitFailure;
            break;
        }
    }

    // 5. Read, one frame per camera in turn, handing each on at once.
    const bool progress = !opt.quiet && isatty(STDERR_FILENO);
    const long total = static_cast<long>(opt.frames) * static_cast<long>(cameras.size());
    long done = 0;
    const Clock::time_point start = Clock::now();
    for (int n = 0; status == kExitOk && n < opt.frames && !g_stop.load(); ++n) {
        for (CameraReader &cam : cameras) {
            if (g_stop.load()) break;
            if (writers.failed()) {
                status = kExitFailure;
                break;
            }
            FramePtr frame = cam.Read();
            if (frame == nullptr) {
                Fail("reading frame " + std::to_string(n) + " from camera " + std::to_string(cam.id()) + " failed");
                status = kExitFailure;
                break;
            }
            // Only frames the writers take are numbered for them.
            if (writers.Offer(std::move(frame))) cam.HandedOn();
            if (progress) Progress(++done, total);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (progress) std::fputc('\n', stderr);

    // 6. Close every camera that was opened; frames still queued outlive it.
    for (CameraReader &cam : cameras) {
        if (!cam.Close()) {
            Fail("closing camera " + std::to_string(cam.id()) + " failed");
            status = kExitFailure;
        }
    }

    // 7. Let the writers finish what was read.
    if (const std::string error = writers.Drain(); !error.empty()) {
        Fail(error);
        status = kExitFailure;
    }

    // 8. Summary.
    long read = 0;
    for (const CameraReader &cam : cameras) {
        read += cam.read();
        if (cam.wrongCamera() > 0) {
            Fail(std::to_string(cam.wrongCamera()) + " frames from camera " + std::to_string(cam.id()) +
                 " carry another camera's stamp");
            status = kExitFailure;
        }
    }
    if (!opt.quiet) PrintSummary(opt, cameras, writers, seconds);
    for (const CameraReader &cam : cameras) {
        if (const long dropped = writers.counts(cam.id()).dropped; dropped > 0) {
            Fail(std::to_string(dropped) + " frames of camera " + std::to_string(cam.id()) +
                 " dropped unwritten: the writers fell behind (try fewer or faster formats, or a larger --queue)");
        }
    }
    if (status == kExitOk && g_stop.load() && read < total) {
        Fail("interrupted after " + std::to_string(read) + " of " + std::to_string(total) + " frames");
        return kExitInterrupted;
    }
    return status;
}
