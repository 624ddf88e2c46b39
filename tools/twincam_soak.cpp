// twincam-soak: a long unpaced capture from both simulated cameras, with
// faults injected now and then, that checks nothing is lost or kept: every
// failure is an injected one, every frame is whole and in order, live
// buffers return to zero and resident memory stays flat.
#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <string>

#include "process.h"
#include "run_control.h"
#include "size.h"
#include "twincam/camera.h"
#include "twincam/platform/acl_runtime.h"
#include "twincam/sim/twincam_sim.h"

using namespace twincam::tools;

namespace {

constexpr int kExitBroken = kExitFailure;
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



struct Camera {
    int32_t id;
    std::deque<CameraFrame> held;
    long long lastSequence = -1;
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

void Schedule(const Fault &f) {
    twincam_sim_fault(f.op, static_cast<uint32_t>(twincam_sim_call_count(f.op)) + 1 + f.ahead, f.value);
}

}  // namespace

int main(int argc, char **argv) {
    // 1. Options.
    long frames = 1000000;
    std::string size = "160x120";
    long faultEvery = 997;
    bool verbose = false;
    CLI::App app{"Soak test of twincam against the simulated cameras: an unpaced capture from both cameras with "
                 "injected faults, checking that nothing is lost or kept."};
    app.add_option("-n,--frames", frames, "Frames to read, alternating between the cameras")
        ->check(CLI::PositiveNumber)->capture_default_str();
    app.add_option("-s,--size", size, "Resolution WIDTHxHEIGHT (even, at least 128 wide for the stamp check)")
        ->capture_default_str();
    app.add_option("--fault-every", faultEvery, "Inject a fault every N frames (0: none)")
        ->check(CLI::NonNegativeNumber)->capture_default_str();
    app.add_flag("-v,--verbose", verbose, "Show the library's report lines");
    CLI11_PARSE(app, argc, argv);
    int width = 0, height = 0;
    if (!twincam::tools::ParseSize(size, &width, &height) || width < TWINCAM_SIM_STAMP_MIN_WIDTH || height < 2 ||
        width % 2 != 0 || height % 2 != 0) {
        std::fprintf(stderr, "twincam-soak: --size must be WIDTHxHEIGHT, even, at least %dx2\n",
                     TWINCAM_SIM_STAMP_MIN_WIDTH);
        return kExitUsage;
    }

    // 2. The library reports every injected failure on stdout and the
    // stand-in log echoes it; both are quiet unless asked for, and this tool
    // writes to stderr.
    if (!verbose) {
        twincam_sim_set_log_level(TWINCAM_SIM_LOG_NONE);
        std::fflush(stdout);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDOUT_FILENO), close(null);
    }
    InstallStopHandlers();
    twincam_sim_set_pacing(0);
    std::fprintf(stderr, "twincam-soak: %ld frames of %dx%d from cameras 0 and 1, unpaced, a fault every %ld frames\n",
                 frames, width, height, faultEvery);

    // 3. Open both cameras.
    const long rssBefore = ResidentKiB();
    Camera cameras[2] = {{0, {}}, {1, {}}};
    for (const Camera &c : cameras) {
        if (OpenCameraEx(c.id, 30, width, height) != 0) {
            std::fprintf(stderr, "twincam-soak: opening camera %d failed\n", c.id);
            return kExitBroken;
        }
    }
    const int32_t frameSize = g_CameraMgr.cameras[0].frameSize;

    // 4. Read, alternating cameras; hold a few frames each, free the oldest.
    long delivered = 0, failures = 0, injected = 0, broken = 0, read = 0, warmup = std::min(frames / 10, 10000L);
    long rssStart = rssBefore;
    size_t fault = 0;
    const auto start = std::chrono::steady_clock::now();
    for (; read < frames && !g_stop.load(); ++read) {
        if (read == warmup) rssStart = ResidentKiB();
        Camera &camera = cameras[read % 2];
        bool expectFailure = false;
        if (faultEvery > 0 && read % faultEvery == faultEvery - 1) {
            const Fault &kind = kFaults[fault++ % (sizeof kFaults / sizeof *kFaults)];
            ++injected;
            Schedule(kind);
            if (kind.op == TWINCAM_SIM_OP_SETPROP) {
                // A reconfiguration that fails closes the camera; the next open recovers it.
                if (OpenCameraEx(camera.id, 30, width, height) != 1) ++broken;
                ++failures;
                if (OpenCameraEx(camera.id, 30, width, height) != 0) ++broken;
                // The service restarts the frame count on a reopen.
                camera.lastSequence = -1;
            } else {
                expectFailure = true;
            }
        }
        CameraFrame frame{};
        if (ReadCameraFrame(camera.id, &frame) != 0) {
            ++failures;
            if (!expectFailure) ++broken;
            continue;
        }
        if (expectFailure) ++broken;
        ++delivered;
        twincam_sim_stamp stamp{};
        if (frame.size != frameSize || twincam_sim_stamp_decode(frame.data, width, height, &stamp) != 0 ||
            stamp.camera != camera.id || static_cast<long long>(stamp.sequence) <= camera.lastSequence) {
            ++broken;
        }
        camera.lastSequence = stamp.sequence;
        camera.held.push_back(frame);
        if (camera.held.size() > kHeld) {
            if (acldvppFree(camera.held.front().data) != 0) ++broken;
            camera.held.pop_front();
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long rssEnd = ResidentKiB();

    // 5. Close, free what is held, and account.
    for (Camera &c : cameras) {
        if (CloseCameraEx(c.id) != 0) ++broken;
        for (const CameraFrame &f : c.held) {
            if (acldvppFree(f.data) != 0) ++broken;
        }
        c.held.clear();
    }
    const size_t liveAtEnd = twincam_sim_live_buffers();
    const bool flat = !kRssMeaningful || rssEnd - rssStart <= kFlatKiB;
    std::fprintf(stderr, "frames read:        %ld in %.2f s (%.0f frames/s)\n", read, seconds,
                 seconds > 0 ? read / seconds : 0.0);
    std::fprintf(stderr, "frames delivered:   %ld\n", delivered);
    std::fprintf(stderr, "failures:           %ld (%ld injected faults)\n", failures, injected);
    std::fprintf(stderr, "broken invariants:  %ld\n", broken);
    std::fprintf(stderr, "peak live buffers:  %zu\n", twincam_sim_peak_buffers());
    std::fprintf(stderr, "live buffers, end:  %zu\n", liveAtEnd);
    std::fprintf(stderr, "resident memory:    %ld KiB before, %ld KiB at start, %ld KiB at end (%+ld KiB)%s\n",
                 rssBefore, rssStart, rssEnd, rssEnd - rssStart,
                 !kRssMeaningful ? " (not checked under AddressSanitizer)" : flat ? "" : " NOT FLAT");
    if (g_stop.load()) return kExitInterrupted;
    return broken == 0 && liveAtEnd == 0 && flat && failures == injected ? 0 : kExitBroken;
}
