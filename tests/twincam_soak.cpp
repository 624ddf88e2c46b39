// twincam-soak: a long unpaced capture from both simulated cameras, with
// faults injected now and then, that checks nothing is lost or kept: every
// failure is an injected one, every frame is whole and in order, live
// buffers return to zero and resident memory stays flat.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <string>

#include "camera_options.h"
#include "process.h"
#include "stamp.h"
#include "twincam/camera.h"
#include "twincam/platform/acl_runtime.h"
#include "twincam/sim/twincam_sim.h"

using namespace twincam::common;

namespace {

// Frames each camera's consumer holds before freeing the oldest, as a
// pipeline with a few stages in flight would.
constexpr size_t kHeld = 3;
// Growth of resident memory that still counts as flat.
constexpr long kFlatKiB = 1024;
// AddressSanitizer's quarantine holds freed memory back by design, so resident
// memory grows under it whatever the program does.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kRssMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kRssMeaningful = false;
#else
constexpr bool kRssMeaningful = true;
#endif
#else
constexpr bool kRssMeaningful = true;
#endif

struct Options {
    long frames = 1000000;
    std::string size = "160x120";
    int width = 0, height = 0;
    long faultEvery = 997;
    bool verbose = false;
};

// A camera under soak: the frames its consumer still holds, in order.
struct SoakedCamera {
    int32_t id;
    std::deque<CameraFrame> held;
    StampTracker stamps{id};
};

// The faults in turn, one every --fault-every frames: which call fails
// (counted from the next one) and how.
struct Fault {
    twincam_sim_op op;
    uint32_t ahead;
    int32_t value;
};
constexpr Fault kFaults[] = {
    {TWINCAM_SIM_OP_READ, 0, TWINCAM_SIM_READ_FAIL},
    {TWINCAM_SIM_OP_READ, 0, TWINCAM_SIM_READ_SHORT},
    {TWINCAM_SIM_OP_READ, 0, TWINCAM_SIM_READ_LONG},
    {TWINCAM_SIM_OP_MALLOC, 0, 0},
    // The resolution, on a reopen: the open fails and closes the camera.
    {TWINCAM_SIM_OP_SETPROP, 1, 0},
};

struct Counts {
    long read = 0, delivered = 0, failures = 0, injected = 0, broken = 0;
    long rssBefore = 0, rssStart = 0, rssEnd = 0;
    double seconds = 0;
};

std::optional<int> ParseOptions(int argc, char **argv, Options *opt) {
    CLI::App app{"Soak test of twincam against the simulated cameras: an unpaced capture from both cameras with "
                 "injected faults, checking that nothing is lost or kept."};
    app.add_option("-n,--frames", opt->frames, "Frames to read, alternating between the cameras")
        ->check(CLI::PositiveNumber)->capture_default_str();
    app.add_option("-s,--size", opt->size, "Resolution WIDTHxHEIGHT (even, at least 128 wide for the stamp check)")
        ->capture_default_str();
    app.add_option("--fault-every", opt->faultEvery, "Inject a fault every N frames (0: none)")
        ->check(CLI::NonNegativeNumber)->capture_default_str();
    app.add_flag("-v,--verbose", opt->verbose, "Show the library's report lines");
    if (const std::optional<int> exit = ParseCommandLine(app, argc, argv)) return exit;
    if (!ParseSize(opt->size, &opt->width, &opt->height) || !twincam_frame_size_ok(opt->width, opt->height) ||
        opt->width < TWINCAM_SIM_STAMP_MIN_WIDTH) {
        return Usage("--size must be WIDTHxHEIGHT, even, at least " + std::to_string(TWINCAM_SIM_STAMP_MIN_WIDTH) +
                     "x2");
    }
    return std::nullopt;
}

// The library reports every injected failure on stdout and the stand-in
// log echoes it; both are quiet unless asked for, and this tool writes to
// stderr.
void Silence() {
    twincam_sim_set_log_level(TWINCAM_SIM_LOG_NONE);
    std::fflush(stdout);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO), close(null);
}

// Schedules the next fault on camera; true when the next read must fail.
bool InjectFault(const Options &opt, SoakedCamera &camera, size_t *next, Counts *c) {
    const Fault &f = kFaults[(*next)++ % (sizeof kFaults / sizeof *kFaults)];
    ++c->injected;
    twincam_sim_fault(f.op, static_cast<uint32_t>(twincam_sim_call_count(f.op)) + 1 + f.ahead, f.value);
    if (f.op != TWINCAM_SIM_OP_SETPROP) return true;
    // A reconfiguration that fails closes the camera; the next open recovers it.
    if (OpenCameraEx(camera.id, 30, opt.width, opt.height) != 1) ++c->broken;
    ++c->failures;
    if (OpenCameraEx(camera.id, 30, opt.width, opt.height) != 0) ++c->broken;
    camera.stamps.Restart();
    return false;
}

// Reads one frame, checks it whole and in order, holds it and frees the oldest.
void ReadOne(const Options &opt, SoakedCamera &camera, bool expectFailure, int32_t frameSize, Counts *c) {
    CameraFrame frame{};
    if (ReadCameraFrame(camera.id, &frame) != 0) {
        ++c->failures;
        if (!expectFailure) ++c->broken;
        return;
    }
    if (expectFailure) ++c->broken;
    ++c->delivered;
    const StampTracker::Seen seen = camera.stamps.Track(frame.data, opt.width, opt.height);
    if (frame.size != frameSize || !seen.stamped || seen.otherCamera || !seen.inOrder) ++c->broken;
    camera.held.push_back(frame);
    if (camera.held.size() > kHeld) {
        if (acldvppFree(camera.held.front().data) != 0) ++c->broken;
        camera.held.pop_front();
    }
}

void Soak(const Options &opt, SoakedCamera (&cameras)[2], Counts *c) {
    const int32_t frameSize = g_CameraMgr.cameras[0].frameSize;
    const long warmup = std::min(opt.frames / 10, 10000L);
    size_t fault = 0;
    const auto start = std::chrono::steady_clock::now();
    for (; c->read < opt.frames && !g_stop.load(); ++c->read) {
        if (c->read == warmup) c->rssStart = ResidentKiB();
        SoakedCamera &camera = cameras[c->read % 2];
        const bool due = opt.faultEvery > 0 && c->read % opt.faultEvery == opt.faultEvery - 1;
        const bool expectFailure = due && InjectFault(opt, camera, &fault, c);
        ReadOne(opt, camera, expectFailure, frameSize, c);
    }
    c->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    c->rssEnd = ResidentKiB();
}

void CloseAndFree(SoakedCamera (&cameras)[2], Counts *c) {
    for (SoakedCamera &camera : cameras) {
        if (CloseCameraEx(camera.id) != 0) ++c->broken;
        for (const CameraFrame &f : camera.held) {
            if (acldvppFree(f.data) != 0) ++c->broken;
        }
        camera.held.clear();
    }
}

// The figures; the exit status says whether every invariant held.
int Report(const Counts &c) {
    const size_t liveAtEnd = twincam_sim_live_buffers();
    const bool flat = !kRssMeaningful || c.rssEnd - c.rssStart <= kFlatKiB;
    std::fprintf(stderr, "frames read:        %ld in %.2f s (%.0f frames/s)\n", c.read, c.seconds,
                 c.seconds > 0 ? c.read / c.seconds : 0.0);
    std::fprintf(stderr, "frames delivered:   %ld\n", c.delivered);
    std::fprintf(stderr, "failures:           %ld (%ld injected faults)\n", c.failures, c.injected);
    std::fprintf(stderr, "broken invariants:  %ld\n", c.broken);
    std::fprintf(stderr, "peak live buffers:  %zu\n", twincam_sim_peak_buffers());
    std::fprintf(stderr, "live buffers, end:  %zu\n", liveAtEnd);
    std::fprintf(stderr, "resident memory:    %ld KiB before, %ld KiB at start, %ld KiB at end (%+ld KiB)%s\n",
                 c.rssBefore, c.rssStart, c.rssEnd, c.rssEnd - c.rssStart,
                 !kRssMeaningful ? " (not checked under AddressSanitizer)" : flat ? "" : " NOT FLAT");
    if (g_stop.load()) return kExitInterrupted;
    return c.broken == 0 && liveAtEnd == 0 && flat && c.failures == c.injected ? kExitOk : kExitFailure;
}

}  // namespace

int main(int argc, char **argv) {
    // 1. Options.
    Options opt;
    if (const std::optional<int> exit = ParseOptions(argc, argv, &opt)) return *exit;

    // 2. Quiet unless asked, unpaced, and Ctrl-C stops with a report.
    if (!opt.verbose) Silence();
    InstallStopHandlers();
    twincam_sim_set_pacing(0);
    std::fprintf(stderr, "twincam-soak: %ld frames of %dx%d from cameras 0 and 1, unpaced, a fault every %ld frames\n",
                 opt.frames, opt.width, opt.height, opt.faultEvery);

    // 3. Open both cameras.
    Counts counts;
    counts.rssBefore = counts.rssStart = ResidentKiB();
    SoakedCamera cameras[2] = {{0, {}}, {1, {}}};
    for (const SoakedCamera &c : cameras) {
        if (OpenCameraEx(c.id, 30, opt.width, opt.height) != 0) {
            std::fprintf(stderr, "twincam-soak: opening camera %d failed\n", c.id);
            return kExitFailure;
        }
    }

    // 4. Read, alternating cameras, with faults; 5. close and free; 6. account.
    Soak(opt, cameras, &counts);
    CloseAndFree(cameras, &counts);
    return Report(counts);
}
