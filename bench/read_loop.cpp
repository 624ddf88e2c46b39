// N reads of camera 0 and nothing else: at 160x120 for counting the
// library's own instructions per ReadCameraFrame under callgrind, or at a
// given size, printing the frames per second (the baseline of the Python
// and GStreamer comparisons). Usage: twincam_read_loop [N] [WxH]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "twincam/camera.h"
#include "twincam/platform/acl_runtime.h"

int main(int argc, char **argv) {
    setenv("TWINCAM_SIM_PACE", "0", 1);
    const long n = argc > 1 ? std::atol(argv[1]) : 1000;
    int width = 160, height = 120;
    if (argc > 2 && std::sscanf(argv[2], "%dx%d", &width, &height) != 2) return 2;
    if (OpenCameraEx(0, 30, width, height) != 0) return 1;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < n; ++i) {
        CameraFrame frame;
        if (ReadCameraFrame(0, &frame) != 0) return 1;
        acldvppFree(frame.data);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (argc > 2) std::fprintf(stderr, "fps %.1f\n", static_cast<double>(n) / seconds);
    return CloseCameraEx(0);
}
