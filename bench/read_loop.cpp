// N reads of camera 0 at 160x120 and nothing else, for counting the
// library's own instructions per ReadCameraFrame under callgrind.
#include <cstdlib>

#include "twincam/camera.h"
#include "twincam/platform/acl_runtime.h"

int main(int argc, char **argv) {
    setenv("TWINCAM_SIM_PACE", "0", 1);
    const long n = argc > 1 ? std::atol(argv[1]) : 1000;
    if (OpenCameraEx(0, 30, 160, 120) != 0) return 1;
    for (long i = 0; i < n; ++i) {
        CameraFrame frame;
        if (ReadCameraFrame(0, &frame) != 0) return 1;
        acldvppFree(frame.data);
    }
    return CloseCameraEx(0);
}
