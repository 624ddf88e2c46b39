// twincam-capture: reads frames from one or both cameras through twincam
// and writes them as PNG and/or raw NV12 files, with a contact sheet.
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "images.h"
#include "size.h"
#include "stats.h"
#include "twincam/camera.h"
#include "twincam/platform/acl_runtime.h"
#if TWINCAM_CAPTURE_STAMPS
#include "twincam/sim/twincam_sim.h"
#endif

namespace fs = std::filesystem;
using namespace twincam::tools;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kExitFailure = 1, kExitUsage = 2, kExitInterrupted = 130;
constexpr int kThumbWidth = 160;

std::atomic<bool> g_stop{false};

// Only asks the capture loop to stop; the loop closes and frees everything.
extern "C" void OnSigint(int) { g_stop.store(true); }

struct Options {
    std::vector<int> cameras;
    int fps = 30;
    int width = 640, height = 480;
    int frames = 10;
    std::string output = "captures";
    std::string format = "png";
    std::string sheet;
    bool quiet = false;
};

struct CameraStats {
    int id = 0;
    long frames = 0;
    long long bytes = 0;
    long missed = 0;
    long stampless = 0;
    long wrongCamera = 0;
    long long lastSequence = -1;
    std::vector<double> latencyMs;
};

void Fail(const std::string &what) { std::fprintf(stderr, "twincam-capture: %s\n", what.c_str()); }

void Progress(long done, long total) {
    constexpr int kWidth = 30;
    const int filled = total > 0 ? static_cast<int>(done * kWidth / total) : kWidth;
    std::fprintf(stderr, "\r[%.*s%.*s] %ld/%ld frames", filled, "##############################",
                 kWidth - filled, "..............................", done, total);
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char **argv) {
    // 1. Options.
    Options opt;
    std::string size = "640x480";
    CLI::App app{"Capture frames from twincam cameras into PNG or NV12 files.", "twincam-capture"};
    app.set_version_flag("--version", "twincam-capture " TWINCAM_VERSION);
    app.add_option("--camera", opt.cameras, "Camera to read, 0 or 1; repeat for both (default 0)")
        ->check(CLI::Range(0, 1));
    app.add_option("--fps", opt.fps, "Frame rate, frames per second")->check(CLI::PositiveNumber)->capture_default_str();
    app.add_option("--size", size, "Resolution WxH, in pixels")->capture_default_str();
    app.add_option("--frames", opt.frames, "Frames to capture per camera")->check(CLI::PositiveNumber)->capture_default_str();
    app.add_option("--output", opt.output, "Directory for the frames (created if missing)")->capture_default_str();
    app.add_option("--format", opt.format, "File format of each frame")
        ->check(CLI::IsMember({"png", "nv12", "both"}))
        ->capture_default_str();
    app.add_option("--sheet", opt.sheet, "Also write all frames as one contact sheet PNG");
    app.add_flag("--quiet", opt.quiet, "No progress bar and no summary");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int rc = app.exit(e);
        return rc == 0 ? 0 : kExitUsage;
    }
    if (!ParseSize(size, &opt.width, &opt.height)) {
        std::fprintf(stderr, "--size: '%s' is not WxH with positive numbers\nRun with --help for more information.\n",
                     size.c_str());
        return kExitUsage;
    }
    if (opt.cameras.empty()) opt.cameras.push_back(0);
    if (opt.cameras.size() == 2 && opt.cameras[0] == opt.cameras[1]) {
        std::fprintf(stderr, "--camera: camera %d given twice\nRun with --help for more information.\n",
                     opt.cameras[0]);
        return kExitUsage;
    }
    if (opt.cameras.size() > 2) {
        std::fprintf(stderr, "--camera: at most two cameras, 0 and 1\n");
        return kExitUsage;
    }
    const bool png = opt.format != "nv12", nv12 = opt.format != "png";

    // 2. Ctrl-C stops the loop after the current frame.
    std::signal(SIGINT, OnSigint);

    // 3. The output directory.
    std::error_code ec;
    fs::create_directories(opt.output, ec);
    if (ec) {
        Fail("cannot create " + opt.output + ": " + ec.message());
        return kExitFailure;
    }

    // 4. Open the cameras; the library's report lines say why one fails.
    std::vector<CameraStats> stats;
    int status = 0;
    for (int id : opt.cameras) {
        if (OpenCameraEx(id, opt.fps, opt.width, opt.height) != 0) {
            Fail("opening camera " + std::to_string(id) + " failed");
            status = kExitFailure;
            break;
        }
        CameraStats cam;
        cam.id = id;
        stats.push_back(cam);
    }

    // 5. Capture, one frame per camera in turn.
    const bool progress = !opt.quiet && isatty(STDERR_FILENO);
    const long total = static_cast<long>(opt.frames) * static_cast<long>(opt.cameras.size());
    std::vector<Nv12Image> thumbs;
    long files = 0, done = 0;
    const Clock::time_point start = Clock::now();
    for (int n = 0; status == 0 && n < opt.frames && !g_stop.load(); ++n) {
        for (CameraStats &cam : stats) {
            if (g_stop.load()) break;
            CameraFrame frame{};
            const Clock::time_point t0 = Clock::now();
            if (ReadCameraFrame(cam.id, &frame) != 0) {
                Fail("reading frame " + std::to_string(n) + " from camera " + std::to_string(cam.id) + " failed");
                status = kExitFailure;
                break;
            }
            cam.latencyMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            const CameraRecord &rec = g_CameraMgr.cameras[cam.id];
            const Nv12View view{static_cast<const uint8_t *>(frame.data), rec.width, rec.height};
            long long sequence = cam.frames;  // the tool's own count where a frame has no stamp
#if TWINCAM_CAPTURE_STAMPS
            twincam_sim_stamp stamp{};
            if (twincam_sim_stamp_decode(frame.data, rec.width, rec.height, &stamp) == 0) {
                sequence = stamp.sequence;
                if (stamp.camera != cam.id) ++cam.wrongCamera;
                if (cam.lastSequence >= 0 && sequence > cam.lastSequence + 1) {
                    cam.missed += static_cast<long>(sequence - cam.lastSequence - 1);
                }
            } else {
                ++cam.stampless;
            }
#endif
            cam.lastSequence = sequence;
            ++cam.frames;
            cam.bytes += frame.size;

            char name[64];
            std::snprintf(name, sizeof name, "cam%d-%06lld", cam.id, sequence);
            const std::string base = (fs::path(opt.output) / name).string();
            std::string error;
            if (png && error.empty() && (error = WritePng(base + ".png", view)).empty()) ++files;
            if (nv12 && error.empty() && (error = WriteRaw(base + ".nv12", frame.data, frame.size)).empty()) ++files;
            if (!opt.sheet.empty()) thumbs.push_back(Thumbnail(view, kThumbWidth));
            acldvppFree(frame.data);
            if (!error.empty()) {
                Fail(error);
                status = kExitFailure;
                break;
            }
            if (progress) Progress(++done, total);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (progress) std::fputc('\n', stderr);

    // 6. Close every camera that was opened.
    for (const CameraStats &cam : stats) {
        if (CloseCameraEx(cam.id) != 0) {
            Fail("closing camera " + std::to_string(cam.id) + " failed");
            status = kExitFailure;
        }
    }

    // 7. The contact sheet.
    if (!opt.sheet.empty() && !thumbs.empty()) {
        const std::string error = WriteContactSheet(opt.sheet, thumbs);
        if (!error.empty()) {
            Fail(error);
            status = kExitFailure;
        } else {
            ++files;
        }
    }

    // 8. Summary.
    long captured = 0;
    for (const CameraStats &cam : stats) {
        captured += cam.frames;
        if (cam.wrongCamera > 0) {
            Fail(std::to_string(cam.wrongCamera) + " frames from camera " + std::to_string(cam.id) +
                 " carry another camera's stamp");
            status = kExitFailure;
        }
    }
    if (!opt.quiet) {
        for (const CameraStats &cam : stats) {
            const Spread l = Summarise(cam.latencyMs);
            std::printf("camera %d: %ld frames, %lld bytes, %.1f fps; read latency ms min %.3f median %.3f p99 %.3f "
                        "max %.3f; missed %ld",
                        cam.id, cam.frames, cam.bytes, seconds > 0 ? static_cast<double>(cam.frames) / seconds : 0.0,
                        l.min, l.median, l.p99, l.max, cam.missed);
            if (cam.stampless > 0) std::printf(" (%ld frames without a stamp)", cam.stampless);
            std::printf("\n");
        }
        std::printf("files written: %ld in %s%s%s\n", files, opt.output.c_str(),
                    opt.sheet.empty() ? "" : ", sheet ", opt.sheet.c_str());
    }
    if (status == 0 && g_stop.load() && captured < total) {
        Fail("interrupted after " + std::to_string(captured) + " of " + std::to_string(total) + " frames");
        return kExitInterrupted;
    }
    return status;
}
